#include "http_client/EpollEventLoop.h"

#include <sys/epoll.h>
#include <sys/eventfd.h>
#include <sys/timerfd.h>
#include <unistd.h>

#include <array>
#include <cerrno>
#include <cstdint>
#include <system_error>
#include <utility>

namespace vx::shared::agents::measurements::http {

namespace {

// Events handled per epoll_wait; more simply wait for the next round.
constexpr int MaxEventsPerWait = 64;

unsigned toLoopEvents(uint32_t epollEvents) {
    unsigned events = 0;
    if ((epollEvents & (EPOLLIN | EPOLLPRI)) != 0) {
        events |= IMultiEventLoop::EventReadable;
    }
    if ((epollEvents & EPOLLOUT) != 0) {
        events |= IMultiEventLoop::EventWritable;
    }
    if ((epollEvents & EPOLLERR) != 0) {
        events |= IMultiEventLoop::EventError;
    }
    if ((epollEvents & (EPOLLHUP | EPOLLRDHUP)) != 0) {
        events |= IMultiEventLoop::EventHangUp;
    }
    return events;
}

bool addReadable(int epollFd, int fd) {
    epoll_event event{};
    event.events = EPOLLIN;
    event.data.fd = fd;
    return epoll_ctl(epollFd, EPOLL_CTL_ADD, fd, &event) == 0;
}

// Adds one to the eventfd counter; it fails only when the counter is full, and then the
// thread is awake anyway.
void wake(int eventFd) {
    if (eventFd >= 0) {
        const uint64_t one = 1;
        [[maybe_unused]] const ssize_t written = write(eventFd, &one, sizeof one);
    }
}

void closeIfOpen(int& fd) {
    if (fd >= 0) {
        close(fd);
        fd = -1;
    }
}

}  // namespace

EpollEventLoop::~EpollEventLoop() {
    stop();
    closeDescriptors();
}

bool EpollEventLoop::start(SocketEventFunction onSocketEvent, TimeoutFunction onTimeout) {
    std::lock_guard<std::mutex> stopLock(stopMutex);
    std::lock_guard<std::mutex> lock(mutex);
    if (state != State::Idle) {
        return false;
    }
    if (!openDescriptors()) {
        closeDescriptors();
        return false;
    }
    socketEventFunction = std::move(onSocketEvent);
    timeoutFunction = std::move(onTimeout);
    try {
        worker = std::thread([this] { run(); });
    } catch (const std::system_error&) {
        closeDescriptors();
        state = State::Stopped;
        return false;
    }
    state = State::Running;
    if (!tasks.empty()) {
        wake(wakeFd);  // tasks posted before start
    }
    return true;
}

void EpollEventLoop::stop() {
    std::lock_guard<std::mutex> stopLock(stopMutex);
    std::deque<Task> dropped;
    {
        std::lock_guard<std::mutex> lock(mutex);
        state = State::Stopped;
        stopping = true;
        wake(wakeFd);
    }
    if (worker.joinable()) {
        worker.join();
    }
    // Tasks that never ran are released here, outside the lock, as they may own anything.
    std::lock_guard<std::mutex> lock(mutex);
    dropped.swap(tasks);
}

void EpollEventLoop::post(Task task) {
    if (!task) {
        return;
    }
    std::lock_guard<std::mutex> lock(mutex);
    if (state == State::Stopped) {
        return;  // nothing can run it any more
    }
    tasks.push_back(std::move(task));
    wake(wakeFd);
}

int EpollEventLoop::startTimer(long timeoutMs) {
    if (timerFd < 0) {
        return -1;
    }
    itimerspec when{};
    if (timeoutMs == 0) {
        when.it_value.tv_nsec = 1;  // an all-zero value would disarm instead
    } else if (timeoutMs > 0) {
        when.it_value.tv_sec = timeoutMs / 1000;
        when.it_value.tv_nsec = (timeoutMs % 1000) * 1000000L;
    }
    return timerfd_settime(timerFd, 0, &when, nullptr) == 0 ? 0 : -1;
}

int EpollEventLoop::watchSocket(int socket, int interest) {
    if (epollFd < 0 || socket < 0 || interest < WatchReadable || interest > WatchBoth) {
        return -1;
    }
    epoll_event event{};
    event.events = ((interest & WatchReadable) != 0 ? EPOLLIN : 0u) | ((interest & WatchWritable) != 0 ? EPOLLOUT : 0u);
    event.data.fd = socket;
    if (epoll_ctl(epollFd, EPOLL_CTL_MOD, socket, &event) == 0) {
        return 0;
    }
    if (errno == ENOENT && epoll_ctl(epollFd, EPOLL_CTL_ADD, socket, &event) == 0) {
        return 0;
    }
    return -1;
}

int EpollEventLoop::unwatchSocket(int socket) {
    if (epollFd < 0) {
        return -1;
    }
    if (epoll_ctl(epollFd, EPOLL_CTL_DEL, socket, nullptr) == 0) {
        return 0;
    }
    // Not watched (or already closed, which drops it from epoll): the wish is met.
    return errno == ENOENT || errno == EBADF ? 0 : -1;
}

void EpollEventLoop::run() {
    std::array<epoll_event, MaxEventsPerWait> events{};
    while (!stopping) {
        const int ready = epoll_wait(epollFd, events.data(), MaxEventsPerWait, -1);
        if (ready < 0) {
            if (errno == EINTR) {
                continue;
            }
            break;
        }
        for (int i = 0; i < ready && !stopping; ++i) {
            const int fd = events[static_cast<size_t>(i)].data.fd;
            if (fd == wakeFd) {
                runPostedTasks();
            } else if (fd == timerFd) {
                onTimerReadable();
            } else {
                socketEventFunction(fd, toLoopEvents(events[static_cast<size_t>(i)].events));
            }
        }
    }
}

void EpollEventLoop::runPostedTasks() {
    uint64_t count = 0;
    // EAGAIN only when an earlier round drained it already.
    [[maybe_unused]] const ssize_t drained = read(wakeFd, &count, sizeof count);
    std::deque<Task> batch;
    {
        std::lock_guard<std::mutex> lock(mutex);
        batch.swap(tasks);
    }
    // Tasks posted while these run wait for the next round, so timers and sockets are not starved.
    for (Task& task : batch) {
        if (stopping) {
            break;
        }
        task();
    }
}

void EpollEventLoop::onTimerReadable() {
    uint64_t expirations = 0;
    // Fails with EAGAIN when the timer was re-armed or disarmed after it fired: a stale wake-up.
    if (read(timerFd, &expirations, sizeof expirations) == static_cast<ssize_t>(sizeof expirations) &&
        expirations > 0) {
        timeoutFunction();
    }
}

bool EpollEventLoop::openDescriptors() {
    epollFd = epoll_create1(EPOLL_CLOEXEC);
    wakeFd = eventfd(0, EFD_NONBLOCK | EFD_CLOEXEC);
    timerFd = timerfd_create(CLOCK_MONOTONIC, TFD_NONBLOCK | TFD_CLOEXEC);
    return epollFd >= 0 && wakeFd >= 0 && timerFd >= 0 && addReadable(epollFd, wakeFd) &&
           addReadable(epollFd, timerFd);
}

void EpollEventLoop::closeDescriptors() {
    closeIfOpen(timerFd);
    closeIfOpen(wakeFd);
    closeIfOpen(epollFd);
}

}  // namespace vx::shared::agents::measurements::http
