#pragma once

#include <boost/asio/io_context.hpp>
#include <boost/asio/ip/tcp.hpp>
#include <boost/beast/core/error.hpp>

namespace vx::rc::core {

class ServerCore;

// Accepts connections and gives each one a session on its own strand.
class Listener {
public:
    Listener(boost::asio::io_context& ioContext, ServerCore& server);

    // Binds and listens; throws boost::system::system_error on failure.
    void open(const boost::asio::ip::tcp::endpoint& endpoint);
    void run();
    // Only while no thread runs the I/O context.
    void close();
    unsigned short port() const;

private:
    void doAccept();
    void onAccept(boost::beast::error_code ec, boost::asio::ip::tcp::socket socket);

    boost::asio::io_context& ioContext_;
    ServerCore& server_;
    boost::asio::ip::tcp::acceptor acceptor_;
};

}  // namespace vx::rc::core
