#include "http_server/HttpServer.h"

#include <stdexcept>
#include <utility>
#include <vector>

#include <boost/beast/http/fields.hpp>

#include "http_server/HttpRequest.h"
#include "http_server/ServerException.h"
#include "http_server/core/Request.h"
#include "http_server/core/Response.h"
#include "http_server/core/ServerCore.h"

namespace vx::rc {
namespace {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

// Copies the answer and posts its write to the connection's strand, never writing inline.
// Does nothing once the server is gone.
HttpServerMethod::ResponseCallback makeResponseCallback(std::weak_ptr<core::ServerCore> server,
                                                        std::shared_ptr<core::Response> response) {
    return [server = std::move(server), response = std::move(response)](const IHttpResponse& answer) {
        const auto alive = server.lock();
        if (!alive || !alive->isStarted()) {
            return;
        }
        response->post([response = response, statusCode = answer.getStatusCode(),
                                                 body = answer.getBody(), headers = answer.getHeaders()] {
            boost::beast::http::fields fields;
            for (const auto& [name, value] : headers) {
                fields.insert(name, value);
            }
            response->write(statusCode, body, fields);
        });
    };
}

core::RequestHandler makeRoute(std::weak_ptr<core::ServerCore> server, std::shared_ptr<HttpServerMethod> method) {
    return [server = std::move(server), method = std::move(method)](const std::shared_ptr<core::Response>& response,
                                                                   const std::shared_ptr<core::Request>& request) {
        const HttpRequest httpRequest(request);
        try {
            method->execute(httpRequest, makeResponseCallback(server, response));
        } catch (const ServerException& error) {
            // Already on the connection's strand.
            response->write(error.getStatusCode(), error.what(), {});
        }
    };
}

}  // namespace

HttpServer::HttpServer(const std::string& address, uint16_t port, uint16_t threadCount, std::size_t maxRequestSize)
    : server_(std::make_shared<core::ServerCore>(core::ServerSettings{address, port, threadCount, maxRequestSize})) {}

HttpServer::~HttpServer() { stop(); }

void HttpServer::registerMethod(const std::shared_ptr<HttpServerMethod>& method, const std::string& name,
                                const std::string& httpMethod) {
    server_->resources().add("^/" + name + "$", httpMethod, makeRoute(server_, method));
}

void HttpServer::run() {
    startedFuture_ = started_.get_future().share();
    serverThread_ = std::thread([this] { serve(); });
}

void HttpServer::serve() {
    try {
        server_->start([this](unsigned short port) {
            listeningPort_ = port;
            started_.set_value();
        });
    } catch (const std::exception& error) {
        const auto& settings = server_->settings();
        // Handed to the owner through the start future, never left to escape this thread.
        started_.set_exception(std::make_exception_ptr(std::runtime_error(
            "HTTP server cannot listen on " + settings.address + " port " + std::to_string(settings.port) + ": " +
            error.what())));
    }
}

void HttpServer::waitUntilStarted() {
    if (!startedFuture_.valid()) {
        throw std::logic_error("HTTP server was not run");
    }
    startedFuture_.get();
}

void HttpServer::stop() {
    if (startedFuture_.valid()) {
        startedFuture_.wait();
        server_->stop();
    }
    if (serverThread_.joinable()) {
        serverThread_.join();
    }
}

}  // namespace vx::rc
