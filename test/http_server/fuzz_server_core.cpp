// libFuzzer target: every input is the whole byte stream of one client connection to the
// server core, which must answer or close and keep serving without crashing.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <future>
#include <limits>
#include <memory>
#include <stdexcept>
#include <thread>

#include "http_server/ServerException.h"
#include "http_server/core/Request.h"
#include "http_server/core/Response.h"
#include "http_server/core/ServerCore.h"

namespace {

using vx::rc::core::Request;
using vx::rc::core::Response;

// One server for the whole run, on two I/O threads like the service.
uint16_t serverPort() {
    static const uint16_t port = [] {
        auto server = std::make_shared<vx::rc::core::ServerCore>(
            vx::rc::core::ServerSettings{"127.0.0.1", 0, 2, 64 * 1024});
        auto& routes = server->resources();
        routes.add("^/echo$", "POST", [](const std::shared_ptr<Response>& response, const std::shared_ptr<Request>& request) {
            response->write(200, request->content, request->header);
        });
        routes.add("^/status/([0-9]+)$", "GET", [](const std::shared_ptr<Response>& response, const std::shared_ptr<Request>& request) {
            response->write(std::stoi(request->path_match[1].str().substr(0, 4)), request->query_string, {});
        });
        routes.add("^/throw$", "GET", [](const std::shared_ptr<Response>&, const std::shared_ptr<Request>&) {
            throw std::runtime_error("handler failure");
        });
        routes.add("^/silent$", "GET", [](const std::shared_ptr<Response>&, const std::shared_ptr<Request>&) {});
        std::promise<uint16_t> started;
        auto bound = started.get_future();
        std::thread([server, &started] { server->start([&started](unsigned short p) { started.set_value(p); }); })
            .detach();
        return bound.get();
    }();
    return port;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint16_t port = serverPort();
    const int fd = ::socket(AF_INET, SOCK_STREAM, 0);
    if (fd < 0) {
        return 0;
    }
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(port);
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0) {
        std::size_t sent = 0;
        while (sent < size) {
            const auto n = ::send(fd, data + sent, size - sent, MSG_NOSIGNAL);
            if (n <= 0) {
                break;
            }
            sent += static_cast<std::size_t>(n);
        }
        ::shutdown(fd, SHUT_WR);
        // The server ends the connection after the last answer; bounded in case it does not.
        char chunk[4096];
        pollfd entry{fd, POLLIN, 0};
        while (::poll(&entry, 1, 10000) > 0 && ::recv(fd, chunk, sizeof(chunk), 0) > 0) {
        }
    }
    ::close(fd);
    return 0;
}
