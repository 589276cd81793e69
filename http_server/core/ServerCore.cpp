#include "http_server/core/ServerCore.h"

#include <thread>
#include <utility>
#include <vector>

#include <boost/asio/ip/address.hpp>
#include <boost/asio/post.hpp>

#include "http_server/core/Session.h"

namespace vx::rc::core {

ServerCore::ServerCore(ServerSettings settings)
    : settings_(std::move(settings)), listener_(ioContext_, *this) {}

ServerCore::~ServerCore() { stop(); }

void ServerCore::start(const std::function<void(unsigned short)>& onStart) {
    if (ioContext_.stopped()) {
        ioContext_.restart();
    }
    const boost::asio::ip::tcp::endpoint endpoint(boost::asio::ip::make_address(settings_.address), settings_.port);
    listener_.open(endpoint);
    listener_.run();
    started_ = true;
    boost::asio::post(ioContext_, [onStart, port = listener_.port()] { onStart(port); });

    std::vector<std::thread> pool;
    for (unsigned extra = 1; extra < settings_.threadPoolSize; ++extra) {
        pool.emplace_back([this] { runIoContext(); });
    }
    runIoContext();
    for (auto& thread : pool) {
        thread.join();
    }

    // No thread runs the context any more, so the sockets can be closed from here.
    listener_.close();
    for (const auto& session : connections_.takeAll()) {
        session->close();
    }
}

void ServerCore::stop() { ioContext_.stop(); }

void ServerCore::runIoContext() {
    for (;;) {
        try {
            ioContext_.run();
            return;
        } catch (...) {
            // A stray exception from one handler must not take the I/O thread down.
        }
    }
}

}  // namespace vx::rc::core
