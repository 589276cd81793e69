#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <future>
#include <memory>
#include <string>
#include <thread>

#include "http_server/HttpServerMethod.h"

namespace vx::rc {

namespace core {
class ServerCore;
}

// The local plain-HTTP server: one route per registered method, run on its own thread
// plus threadCount - 1 more I/O threads.
class HttpServer {
public:
    HttpServer(const std::string& address, uint16_t port, uint16_t threadCount, std::size_t maxRequestSize);
    ~HttpServer();
    HttpServer(const HttpServer&) = delete;
    HttpServer& operator=(const HttpServer&) = delete;

    // Routes "/" + name for httpMethod to the handler, replacing an earlier one. Before run.
    void registerMethod(const std::shared_ptr<HttpServerMethod>& method, const std::string& name,
                        const std::string& httpMethod);
    // Starts the server thread and returns at once. Once per object.
    void run();
    // Blocks until the server listens. A failed bind or listen is rethrown here as a
    // std::runtime_error naming the address, the port and the reason.
    void waitUntilStarted();
    // The port actually bound (useful with port 0); 0 until the server listens.
    uint16_t getListeningPort() const { return listeningPort_; }
    // Waits for the start, stops the server and joins its thread. Safe to repeat.
    void stop();

private:
    void serve();

    std::thread serverThread_;
    std::shared_ptr<core::ServerCore> server_;
    std::promise<void> started_;
    std::shared_future<void> startedFuture_;
    std::atomic<uint16_t> listeningPort_{0};
};

}  // namespace vx::rc
