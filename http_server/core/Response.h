#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include <functional>
#include <boost/beast/http/fields.hpp>

namespace vx::rc::core {

class ServerCore;
class Session;

// The answer slot of one request. write runs on the connection's strand; a response
// dropped without a write closes the connection rather than leave the client waiting.
class Response {
public:
    Response(std::weak_ptr<ServerCore> server, std::weak_ptr<Session> session);
    ~Response();
    Response(const Response&) = delete;
    Response& operator=(const Response&) = delete;

    // Queues the job on the connection's strand; dropped when the server or the
    // connection is gone. Holds no executor, which must not outlive the I/O context.
    void post(std::function<void()> job) const;

    // Only the first write of a response is sent. Call on the connection's strand.
    void write(int32_t statusCode, const std::string& body, const boost::beast::http::fields& header);

private:
    std::weak_ptr<ServerCore> server_;
    std::weak_ptr<Session> session_;
    bool written_ = false;
};

}  // namespace vx::rc::core
