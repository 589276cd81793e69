#include "http_server/core/Session.h"

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <exception>
#include <limits>
#include <utility>

#include <boost/asio/dispatch.hpp>
#include <boost/asio/post.hpp>
#include <boost/asio/write.hpp>
#include <boost/beast/core/bind_handler.hpp>
#include <boost/beast/core/string.hpp>

#include "http_server/core/Request.h"
#include "http_server/core/Response.h"
#include "http_server/core/ServerCore.h"

namespace vx::rc::core {
namespace {

namespace beast = boost::beast;
namespace http = beast::http;

// The request line and header fields must arrive within this time of the start of a read.
constexpr std::chrono::seconds kHeaderTimeout{5};
// Reading the body and writing the answer each get this long.
constexpr std::chrono::seconds kContentTimeout{300};
// Bytes asked of the socket per read.
constexpr std::size_t kReadChunk = 64 * 1024;

constexpr const char* kPayloadTooLarge = "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\n\r\n";

bool wantsKeepAlive(const Request& request) {
    const auto connection = request.header.find(http::field::connection);
    if (connection != request.header.end() && beast::iequals(connection->value(), "keep-alive")) {
        return true;
    }
    return request.version >= 11 &&
           (connection == request.header.end() || !beast::iequals(connection->value(), "close"));
}

std::shared_ptr<Request> toRequest(http::request<http::string_body>&& message) {
    auto request = std::make_shared<Request>();
    request->method = std::string(message.method_string());
    const auto target = message.target();
    const auto query = target.find('?');
    request->path = std::string(target.substr(0, query));
    if (query != beast::string_view::npos) {
        request->query_string = std::string(target.substr(query + 1));
    }
    request->version = message.version();
    request->content = std::move(message.body());
    request->header = std::move(static_cast<http::fields&>(message));
    return request;
}

}  // namespace

Session::Session(boost::asio::ip::tcp::socket&& socket, ServerCore& server)
    : server_(server), stream_(std::move(socket)) {}

void Session::start() {
    // Everything after this runs on the connection's strand.
    boost::asio::dispatch(stream_.get_executor(), beast::bind_front_handler(&Session::doRead, shared_from_this()));
}

void Session::post(std::function<void()> job) { boost::asio::post(stream_.get_executor(), std::move(job)); }

void Session::doRead() {
    // A fresh parser per request; leftover bytes of a pipelined request stay in buffer_.
    parser_.emplace();
    const auto maxSize = server_.maxRequestSize();
    if (maxSize == std::numeric_limits<std::size_t>::max()) {
        parser_->header_limit(std::numeric_limits<std::uint32_t>::max());
        // Not boost::none: Boost 1.74 compares a Content-Length against an empty limit as
        // "greater" and rejects every body.
        parser_->body_limit(std::numeric_limits<std::uint64_t>::max());
    } else {
        parser_->header_limit(static_cast<std::uint32_t>(
            std::min<std::size_t>(maxSize, std::numeric_limits<std::uint32_t>::max())));
        parser_->body_limit(static_cast<std::uint64_t>(maxSize));
    }
    parser_->eager(true);
    request_.reset();
    readingHeader_ = true;
    stream_.expires_after(kHeaderTimeout);
    parseBuffered();
}

void Session::parseBuffered() {
    // The parse runs here rather than inside Beast's read operation, so that anything the
    // parser throws (a single field over Beast's 64 KiB field limit, say) ends only this
    // connection.
    while (buffer_.size() > 0) {
        beast::error_code ec;
        std::size_t used = 0;
        try {
            used = parser_->put(buffer_.data(), ec);
        } catch (const std::exception&) {
            return close();
        }
        buffer_.consume(used);
        if (ec == http::error::need_more) {
            break;
        }
        if (ec) {
            return fail(ec);
        }
        if (parser_->is_done()) {
            return dispatch();
        }
        if (readingHeader_ && parser_->is_header_done()) {
            readingHeader_ = false;
            stream_.expires_after(kContentTimeout);
        }
        if (used == 0) {
            break;
        }
    }
    stream_.async_read_some(buffer_.prepare(kReadChunk),
                            beast::bind_front_handler(&Session::onRead, shared_from_this()));
}

void Session::onRead(beast::error_code ec, std::size_t bytes) {
    if (ec) {
        // Peer gone, or the deadline passed.
        return fail(ec);
    }
    buffer_.commit(bytes);
    parseBuffered();
}

void Session::dispatch() {
    // The handler may take its time; no deadline while nothing is read or written.
    stream_.expires_never();
    request_ = toRequest(parser_->release());
    parser_.reset();
    keepAlive_ = wantsKeepAlive(*request_);
    const RequestHandler* handler = server_.resources().find(*request_);
    if (handler == nullptr) {
        // No route: nothing to say on this connection.
        return close();
    }
    auto response = std::make_shared<Response>(server_.weak_from_this(), weak_from_this());
    try {
        (*handler)(response, request_);
    } catch (...) {
        // The route gave no answer; drop the exchange but keep serving others.
        close();
    }
}

void Session::send(std::string bytes) {
    if (closed_) {
        return;
    }
    out_ = std::move(bytes);
    stream_.expires_after(kContentTimeout);
    boost::asio::async_write(stream_, boost::asio::buffer(out_),
                             beast::bind_front_handler(&Session::onWrite, shared_from_this()));
}

void Session::onWrite(beast::error_code ec, std::size_t /*bytes*/) {
    if (ec) {
        return fail(ec);
    }
    out_.clear();
    if (keepAlive_ && !closed_) {
        return doRead();
    }
    close();
}

void Session::fail(beast::error_code ec) {
    if (ec == http::error::header_limit || ec == http::error::body_limit) {
        // Over the configured maximum: say so once, then end the connection.
        keepAlive_ = false;
        return send(kPayloadTooLarge);
    }
    // Peer gone, timeout or a request we cannot parse: end the connection quietly.
    close();
}

void Session::close() {
    if (closed_) {
        return;
    }
    closed_ = true;
    beast::error_code ignored;
    stream_.socket().shutdown(boost::asio::ip::tcp::socket::shutdown_both, ignored);
    stream_.close();
    server_.connections().remove(shared_from_this());
}

}  // namespace vx::rc::core
