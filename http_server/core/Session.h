#pragma once

#include <functional>
#include <memory>
#include <optional>
#include <string>

#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/flat_buffer.hpp>
#include <boost/beast/core/tcp_stream.hpp>
#include <boost/beast/http/parser.hpp>
#include <boost/beast/http/string_body.hpp>

namespace vx::rc::core {

class ServerCore;
struct Request;

// One connection on its own strand: read a request, hand it to its route, write the
// answer, then read the next one while keep-alive applies.
class Session : public std::enable_shared_from_this<Session> {
public:
    Session(boost::asio::ip::tcp::socket&& socket, ServerCore& server);

    void start();
    // Runs the job on this connection's strand.
    void post(std::function<void()> job);
    // Both run on the strand.
    void send(std::string bytes);
    void close();

private:
    void doRead();
    // Feeds buffered bytes to the parser; reads more when it needs them.
    void parseBuffered();
    void onRead(boost::beast::error_code ec, std::size_t bytes);
    void dispatch();
    void onWrite(boost::beast::error_code ec, std::size_t bytes);
    void fail(boost::beast::error_code ec);

    ServerCore& server_;
    boost::beast::tcp_stream stream_;
    boost::beast::flat_buffer buffer_;
    std::optional<boost::beast::http::request_parser<boost::beast::http::string_body>> parser_;
    std::shared_ptr<Request> request_;
    std::string out_;
    bool readingHeader_ = false;
    bool keepAlive_ = false;
    bool closed_ = false;
};

}  // namespace vx::rc::core
