#pragma once

#include <atomic>
#include <deque>
#include <mutex>
#include <thread>

#include "http_client/IMultiEventLoop.h"

namespace vx::shared::agents::measurements::http {

// IMultiEventLoop on one thread with epoll: a timerfd for the single timer and an eventfd that
// wakes the thread for posted tasks. stop() and the destructor must not be called on the loop
// thread itself (the executor is not destroyed from its own completion function).
class EpollEventLoop : public IMultiEventLoop {
public:
    EpollEventLoop() = default;
    ~EpollEventLoop() override;
    EpollEventLoop(const EpollEventLoop&) = delete;
    EpollEventLoop& operator=(const EpollEventLoop&) = delete;

    // False when already started or stopped, or when the descriptors or the thread cannot be made.
    bool start(SocketEventFunction onSocketEvent, TimeoutFunction onTimeout) override;
    // Joins the thread and drops tasks that did not run. Safe to call twice; posts after it are dropped.
    void stop() override;
    void post(Task task) override;
    int startTimer(long timeoutMs) override;
    int watchSocket(int socket, int interest) override;
    int unwatchSocket(int socket) override;

private:
    enum class State { Idle, Running, Stopped };

    void run();
    void runPostedTasks();
    void onTimerReadable();
    bool openDescriptors();
    void closeDescriptors();

    // Set by start before the thread exists, read only on the loop thread.
    SocketEventFunction socketEventFunction;
    TimeoutFunction timeoutFunction;
    int epollFd = -1;
    int wakeFd = -1;   // eventfd: posted tasks are waiting
    int timerFd = -1;  // timerfd: the single timer

    std::atomic<bool> stopping{false};
    std::mutex mutex;  // guards state and tasks
    State state = State::Idle;
    std::deque<Task> tasks;
    std::mutex stopMutex;  // one stopper joins at a time
    std::thread worker;
};

}  // namespace vx::shared::agents::measurements::http
