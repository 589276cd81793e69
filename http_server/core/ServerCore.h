#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include <boost/asio/io_context.hpp>

#include "http_server/core/ConnectionRegistry.h"
#include "http_server/core/Listener.h"
#include "http_server/core/ResourceMap.h"

namespace vx::rc::core {

struct ServerSettings {
    std::string address;
    uint16_t port = 0;
    // Threads that run the I/O context, the one calling start included.
    uint16_t threadPoolSize = 1;
    // The largest request accepted; the largest size_t means no limit at all.
    std::size_t maxRequestSize = 0;
};

// The plain HTTP/1.1 server under HttpServer: routes, connections and the I/O threads.
// Create it through std::make_shared; responses and sessions refer back to it weakly.
class ServerCore : public std::enable_shared_from_this<ServerCore> {
public:
    explicit ServerCore(ServerSettings settings);
    ~ServerCore();
    ServerCore(const ServerCore&) = delete;
    ServerCore& operator=(const ServerCore&) = delete;

    // Only before start.
    ResourceMap& resources() { return resources_; }

    // Binds, listens, posts onStart(bound port), runs the I/O context on this thread and
    // threadPoolSize - 1 more, and returns once stopped, with every connection closed.
    // A failed bind or listen throws boost::system::system_error.
    void start(const std::function<void(unsigned short)>& onStart);
    // Safe from any thread; start returns once running handlers have finished.
    void stop();

    // True once start has begun listening; before that no answer can be delivered.
    bool isStarted() const { return started_; }

    const ServerSettings& settings() const { return settings_; }
    std::size_t maxRequestSize() const { return settings_.maxRequestSize; }
    ConnectionRegistry& connections() { return connections_; }

private:
    void runIoContext();

    ServerSettings settings_;
    // Outlives everything below that does I/O on it.
    boost::asio::io_context ioContext_;
    ResourceMap resources_;
    ConnectionRegistry connections_;
    Listener listener_;
    std::atomic<bool> started_{false};
};

}  // namespace vx::rc::core
