#include "http_server/core/Response.h"

#include <utility>

#include "http_server/core/ResponseFormat.h"
#include "http_server/core/ServerCore.h"
#include "http_server/core/Session.h"

namespace vx::rc::core {

Response::Response(std::weak_ptr<ServerCore> server, std::weak_ptr<Session> session)
    : server_(std::move(server)), session_(std::move(session)) {}

Response::~Response() {
    if (!written_) {
        post([session = session_] {
            if (const auto alive = session.lock()) {
                alive->close();
            }
        });
    }
}

void Response::post(std::function<void()> job) const {
    // The server keeps the I/O context alive while we post to it; the session goes first.
    const auto server = server_.lock();
    if (!server) {
        return;
    }
    if (const auto session = session_.lock()) {
        session->post(std::move(job));
    }
}

void Response::write(int32_t statusCode, const std::string& body, const boost::beast::http::fields& header) {
    if (written_) {
        return;
    }
    written_ = true;
    if (const auto session = session_.lock()) {
        session->send(formatResponse(statusCode, body, header));
    }
}

}  // namespace vx::rc::core
