#pragma once

#include <functional>

namespace vx::shared::agents::measurements::http {

// The event loop under a CurlMultiExecutor: one thread that watches sockets, keeps one timer
// and runs posted tasks. Every function handed to it runs on that thread.
class IMultiEventLoop {
public:
    // Event bits given to the socket-event function.
    static constexpr unsigned EventReadable = 1;
    static constexpr unsigned EventWritable = 2;
    static constexpr unsigned EventError = 4;
    static constexpr unsigned EventHangUp = 8;
    // Interest given to watchSocket.
    static constexpr int WatchReadable = 1;
    static constexpr int WatchWritable = 2;
    static constexpr int WatchBoth = 3;

    using SocketEventFunction = std::function<void(int socket, unsigned events)>;
    using TimeoutFunction = std::function<void()>;
    using Task = std::function<void()>;

    virtual ~IMultiEventLoop() = default;

    // Starts the loop's thread; true on success.
    virtual bool start(SocketEventFunction onSocketEvent, TimeoutFunction onTimeout) = 0;
    // Once it returns, no function handed to the loop runs or can start any more.
    virtual void stop() = 0;
    // Runs the task once, soon, on the loop's thread. Safe from any thread.
    virtual void post(Task task) = 0;
    // Arms the single timer timeoutMs from now, replacing the armed one; -1 disarms. 0 or -1 on failure.
    virtual int startTimer(long timeoutMs) = 0;
    // Starts or changes watching a socket. 0 or -1 on failure.
    virtual int watchSocket(int socket, int interest) = 0;
    // Stops watching a socket. 0 or -1 on failure.
    virtual int unwatchSocket(int socket) = 0;
};

}  // namespace vx::shared::agents::measurements::http
