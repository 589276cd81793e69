#include "http_server/core/Listener.h"

#include <memory>
#include <utility>

#include <boost/asio/strand.hpp>
#include <boost/beast/core/bind_handler.hpp>

#include "http_server/core/ServerCore.h"
#include "http_server/core/Session.h"

namespace vx::rc::core {
namespace {

constexpr int kListenBacklog = 4096;

}  // namespace

Listener::Listener(boost::asio::io_context& ioContext, ServerCore& server)
    : ioContext_(ioContext), server_(server), acceptor_(boost::asio::make_strand(ioContext)) {}

void Listener::open(const boost::asio::ip::tcp::endpoint& endpoint) {
    // TCP fast open stays off: the socket option is never set.
    acceptor_.open(endpoint.protocol());
    acceptor_.set_option(boost::asio::socket_base::reuse_address(true));
    acceptor_.bind(endpoint);
    acceptor_.listen(kListenBacklog);
}

void Listener::run() { doAccept(); }

void Listener::close() {
    boost::beast::error_code ignored;
    acceptor_.close(ignored);
}

unsigned short Listener::port() const { return acceptor_.local_endpoint().port(); }

void Listener::doAccept() {
    // The listener lives as long as the I/O context that runs this handler.
    acceptor_.async_accept(boost::asio::make_strand(ioContext_),
                           boost::beast::bind_front_handler(&Listener::onAccept, this));
}

void Listener::onAccept(boost::beast::error_code ec, boost::asio::ip::tcp::socket socket) {
    if (ec == boost::asio::error::operation_aborted || !acceptor_.is_open()) {
        return;
    }
    if (!ec) {
        auto session = std::make_shared<Session>(std::move(socket), server_);
        server_.connections().add(session);
        session->start();
    }
    // A failed accept (for example out of descriptors) must not end the listening.
    doAccept();
}

}  // namespace vx::rc::core
