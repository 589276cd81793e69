// The epoll loop on its own: tasks, the timer, socket readiness and stopping.

#include <gtest/gtest.h>
#include <sys/socket.h>
#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <future>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "http_client/EpollEventLoop.h"

namespace vx::test {
namespace {

using shared::agents::measurements::http::EpollEventLoop;
using shared::agents::measurements::http::IMultiEventLoop;
using namespace std::chrono_literals;

// Generous: the machine may be loaded, and only a broken loop ever waits this long.
constexpr auto Patience = 20s;

// Counts what the loop delivered, for the test thread to wait on.
class Deliveries {
public:
    void socketEvent(int socket, unsigned events) {
        std::lock_guard<std::mutex> lock(mutex);
        sockets.emplace_back(socket, events);
        changed.notify_all();
    }
    void timeout() {
        std::lock_guard<std::mutex> lock(mutex);
        ++timeouts;
        changed.notify_all();
    }
    template <typename Predicate>
    bool waitUntil(Predicate done) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, Patience, [&] { return done(*this); });
    }
    std::mutex mutex;
    std::condition_variable changed;
    std::vector<std::pair<int, unsigned>> sockets;
    int timeouts = 0;
};

class EpollEventLoopTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(loop.start([this](int s, unsigned e) { seen.socketEvent(s, e); }, [this] { seen.timeout(); }));
    }
    // Runs on the loop and returns once it ran there, so earlier work is done as well.
    void drain() {
        std::promise<void> ran;
        loop.post([&ran] { ran.set_value(); });
        ASSERT_EQ(std::future_status::ready, ran.get_future().wait_for(Patience));
    }

    Deliveries seen;
    EpollEventLoop loop;
};

TEST_F(EpollEventLoopTest, PostedTasksRunInOrderOnOneOtherThread) {
    std::vector<int> order;  // touched only on the loop thread until drain() returns
    std::vector<std::thread::id> threads;
    for (int i = 0; i < 50; ++i) {
        loop.post([&order, &threads, i] {
            order.push_back(i);
            threads.push_back(std::this_thread::get_id());
        });
    }
    drain();
    ASSERT_EQ(50u, order.size());
    for (int i = 0; i < 50; ++i) {
        EXPECT_EQ(i, order[static_cast<size_t>(i)]);
        EXPECT_EQ(threads[0], threads[static_cast<size_t>(i)]);
    }
    EXPECT_NE(std::this_thread::get_id(), threads[0]);
    EXPECT_FALSE(loop.start([](int, unsigned) {}, [] {}));
}

TEST_F(EpollEventLoopTest, TimerFiresOnceAndCanBeDisarmed) {
    EXPECT_EQ(0, loop.startTimer(0));
    EXPECT_TRUE(seen.waitUntil([](Deliveries& d) { return d.timeouts == 1; }));
    EXPECT_EQ(0, loop.startTimer(30));
    EXPECT_TRUE(seen.waitUntil([](Deliveries& d) { return d.timeouts == 2; }));

    EXPECT_EQ(0, loop.startTimer(50));
    EXPECT_EQ(0, loop.startTimer(-1));
    std::this_thread::sleep_for(300ms);
    drain();
    std::lock_guard<std::mutex> lock(seen.mutex);
    EXPECT_EQ(2, seen.timeouts);
}

TEST_F(EpollEventLoopTest, WatchedSocketReportsReadinessUntilUnwatched) {
    int pair[2];
    ASSERT_EQ(0, socketpair(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK, 0, pair));
    EXPECT_EQ(0, loop.watchSocket(pair[0], IMultiEventLoop::WatchWritable));
    EXPECT_TRUE(seen.waitUntil([&](Deliveries& d) {
        return !d.sockets.empty() && d.sockets.back().first == pair[0] &&
               (d.sockets.back().second & IMultiEventLoop::EventWritable) != 0;
    }));
    // Changing the interest replaces it: only readable from now on.
    EXPECT_EQ(0, loop.watchSocket(pair[0], IMultiEventLoop::WatchReadable));
    drain();
    {
        std::lock_guard<std::mutex> lock(seen.mutex);
        seen.sockets.clear();
    }
    ASSERT_EQ(1, write(pair[1], "x", 1));
    EXPECT_TRUE(seen.waitUntil([&](Deliveries& d) {
        return !d.sockets.empty() && d.sockets.back() == std::make_pair(pair[0], IMultiEventLoop::EventReadable);
    }));
    EXPECT_EQ(0, loop.unwatchSocket(pair[0]));
    EXPECT_EQ(0, loop.unwatchSocket(pair[0]));  // already gone: nothing to do
    EXPECT_EQ(-1, loop.watchSocket(pair[0], 0));
    EXPECT_EQ(-1, loop.watchSocket(-1, IMultiEventLoop::WatchReadable));
    close(pair[0]);
    close(pair[1]);
}

TEST_F(EpollEventLoopTest, StopWaitsForTheRunningTaskAndDropsTheRest) {
    std::promise<void> started;
    std::atomic<bool> finished{false};
    auto witness = std::make_shared<int>(0);
    std::weak_ptr<int> pendingTask = witness;
    std::atomic<bool> laterRan{false};
    loop.post([&] {
        started.set_value();
        std::this_thread::sleep_for(100ms);
        finished = true;
    });
    loop.post([witness, &laterRan] { laterRan = true; });
    witness.reset();
    ASSERT_EQ(std::future_status::ready, started.get_future().wait_for(Patience));
    loop.stop();
    EXPECT_TRUE(finished);
    EXPECT_FALSE(laterRan);
    EXPECT_TRUE(pendingTask.expired());  // dropped tasks are released by stop

    auto late = std::make_shared<int>(0);
    std::weak_ptr<int> lateTask = late;
    loop.post([late] {});
    late.reset();
    EXPECT_TRUE(lateTask.expired());
    loop.stop();  // twice is fine; the destructor makes it three times
    EXPECT_FALSE(loop.start([](int, unsigned) {}, [] {}));
}

}  // namespace
}  // namespace vx::test
