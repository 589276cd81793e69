// The executor with the real epoll loop, real libcurl and the local test server.

#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <map>
#include <memory>
#include <mutex>
#include <set>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "http_client/EpollEventLoop.h"
#include "http_client/ICurlMultiExecutor.h"
#include "http_client/StaticCurlHandleFactory.h"
#include "support/RefusingPort.h"
#include "support/TestHttpServer.h"

namespace vx::test {
namespace {

using namespace shared::agents::measurements::http;
using namespace std::chrono_literals;

constexpr auto Patience = 60s;

size_t discardBody(char*, size_t size, size_t count, void*) {
    return size * count;
}

// What the completion function saw, keyed by handle; filled on the loop thread.
class Completions {
public:
    void record(const ICurlHandle& handle, long code) {
        std::lock_guard<std::mutex> lock(mutex);
        codes[&handle].push_back(code);
        errors[&handle] = handle.getErrorMessage();
        ++total;
        changed.notify_all();
    }
    bool waitFor(size_t count) {
        std::unique_lock<std::mutex> lock(mutex);
        return changed.wait_for(lock, Patience, [&] { return total >= count; });
    }
    std::map<const ICurlHandle*, std::vector<long>> seenCodes() {
        std::lock_guard<std::mutex> lock(mutex);
        return codes;
    }
    std::string errorOf(const ICurlHandle* handle) {
        std::lock_guard<std::mutex> lock(mutex);
        return errors[handle];
    }
    size_t count() {
        std::lock_guard<std::mutex> lock(mutex);
        return total;
    }

private:
    std::mutex mutex;
    std::condition_variable changed;
    std::map<const ICurlHandle*, std::vector<long>> codes;
    std::map<const ICurlHandle*, std::string> errors;
    size_t total = 0;
};

// Forwards to the epoll loop and notes how libcurl's timer requests arrived.
class RecordingLoop : public IMultiEventLoop {
public:
    bool start(SocketEventFunction onSocketEvent, TimeoutFunction onTimeout) override {
        return inner.start(std::move(onSocketEvent), std::move(onTimeout));
    }
    void stop() override { inner.stop(); }
    void post(Task task) override {
        ++posts;
        inner.post(std::move(task));
    }
    int startTimer(long timeoutMs) override {
        if (timeoutMs == 0) {
            ++zeroTimers;
        }
        return inner.startTimer(timeoutMs);
    }
    int watchSocket(int socket, int interest) override { return inner.watchSocket(socket, interest); }
    int unwatchSocket(int socket) override { return inner.unwatchSocket(socket); }

    std::atomic<int> posts{0};
    std::atomic<int> zeroTimers{0};

private:
    EpollEventLoop inner;
};

class CurlMultiExecutorLiveTest : public ::testing::Test {
protected:
    // Handles are made on the test thread, configured by their builder on the loop thread and
    // outlive the executor, which never releases them.
    ICurlMultiExecutor::RequestBuilder getRequest(const std::string& url) {
        handles.push_back(factory.createHandle());
        ICurlHandle* handle = handles.back().get();
        return [handle, url] {
            handle->init();
            handle->setUrl(url);
            handle->setWriteCallback(&discardBody, nullptr);
            return handle;
        };
    }

    void startExecutor(MultiEventLoopPtr loop) {
        executor = factory.createMultiExecutor(std::move(loop), [this](const ICurlHandle& handle, long code) {
            completions.record(handle, code);
            if (throwFromCompletion.exchange(false)) {
                throw std::runtime_error("completion went wrong");
            }
        }, {});
    }
    void startExecutor() {
        startExecutor(MultiEventLoopPtr(new EpollEventLoop(), &destroyFactoryObject<IMultiEventLoop>));
    }

    StaticCurlHandleFactory factory;
    TestHttpServer server;
    std::vector<CurlHandlePtr> handles;  // declared before the executor: released after it
    Completions completions;
    std::atomic<bool> throwFromCompletion{false};
    CurlMultiExecutorPtr executor{nullptr, &destroyFactoryObject<ICurlMultiExecutor>};
};

TEST_F(CurlMultiExecutorLiveTest, TransfersDispatchedFromManyThreadsEachCompleteOnce) {
    constexpr int Threads = 4;
    constexpr int PerThread = 50;
    startExecutor();
    std::vector<std::vector<ICurlMultiExecutor::RequestBuilder>> work(Threads);
    for (int t = 0; t < Threads; ++t) {
        for (int i = 0; i < PerThread; ++i) {
            work[static_cast<size_t>(t)].push_back(getRequest(server.url("/item/" + std::to_string(t * PerThread + i))));
        }
    }
    std::vector<std::thread> dispatchers;
    for (auto& builders : work) {
        dispatchers.emplace_back([this, &builders] {
            for (auto& builder : builders) {
                executor->dispatchRequest(std::move(builder));
            }
        });
    }
    for (auto& dispatcher : dispatchers) {
        dispatcher.join();
    }
    ASSERT_TRUE(completions.waitFor(Threads * PerThread)) << completions.count() << " completed";

    const auto seen = completions.seenCodes();
    EXPECT_EQ(handles.size(), seen.size());
    for (const auto& handle : handles) {
        const auto found = seen.find(handle.get());
        ASSERT_NE(seen.end(), found);
        EXPECT_EQ(std::vector<long>{200}, found->second);
    }
    std::set<std::string> targets;
    for (const auto& request : server.requests()) {
        targets.insert(request.target);
    }
    EXPECT_EQ(static_cast<size_t>(Threads * PerThread), targets.size());
}

TEST_F(CurlMultiExecutorLiveTest, RefusedConnectionCompletesWithCodeZeroAndAnErrorText) {
    RefusingPort refusing;
    startExecutor();
    executor->dispatchRequest(getRequest("http://127.0.0.1:" + std::to_string(refusing.port()) + "/"));
    ASSERT_TRUE(completions.waitFor(1));
    const ICurlHandle* handle = handles.back().get();
    EXPECT_EQ(std::vector<long>{0}, completions.seenCodes()[handle]);
    EXPECT_NE("", completions.errorOf(handle));
}

TEST_F(CurlMultiExecutorLiveTest, BuilderReturningNullSendsNothing) {
    startExecutor();
    executor->dispatchRequest([]() -> ICurlHandle* { return nullptr; });
    executor->dispatchRequest(getRequest(server.url("/after")));
    ASSERT_TRUE(completions.waitFor(1));
    EXPECT_EQ(1u, completions.count());
    ASSERT_EQ(1u, server.requests().size());
    EXPECT_EQ("/after", server.requests()[0].target);
}

TEST_F(CurlMultiExecutorLiveTest, ThrowingBuilderIsReportedAndTheExecutorKeepsWorking) {
    startExecutor();
    ::testing::internal::CaptureStderr();
    executor->dispatchRequest([]() -> ICurlHandle* { throw std::invalid_argument("bad request"); });
    executor->dispatchRequest(getRequest(server.url("/after")));
    const bool completed = completions.waitFor(1);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(completed);
    EXPECT_EQ("CurlMultiExecutor request builder error: bad request\n", errors);
    EXPECT_EQ(std::vector<long>{200}, completions.seenCodes()[handles.back().get()]);
}

TEST_F(CurlMultiExecutorLiveTest, ThrowingCompletionIsReportedAndLaterCompletionsArrive) {
    startExecutor();
    throwFromCompletion = true;
    ::testing::internal::CaptureStderr();
    executor->dispatchRequest(getRequest(server.url("/first")));
    ASSERT_TRUE(completions.waitFor(1));
    executor->dispatchRequest(getRequest(server.url("/second")));
    const bool completed = completions.waitFor(2);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    ASSERT_TRUE(completed);
    EXPECT_EQ("CurlMultiExecutor callback error: completion went wrong\n", errors);
    EXPECT_EQ(std::vector<long>{200}, completions.seenCodes()[handles.back().get()]);
}

TEST_F(CurlMultiExecutorLiveTest, ZeroTimeoutFromLibcurlRunsAsAPostedTask) {
    auto* recording = new RecordingLoop();
    startExecutor(MultiEventLoopPtr(recording, &destroyFactoryObject<IMultiEventLoop>));
    const int postsAfterStart = recording->posts;
    executor->dispatchRequest(getRequest(server.url("/")));
    ASSERT_TRUE(completions.waitFor(1));
    // Adding a handle makes libcurl ask for an immediate timeout: that arrives as a post of its own.
    EXPECT_GE(recording->posts - postsAfterStart, 2);
    EXPECT_EQ(0, recording->zeroTimers);
}

TEST_F(CurlMultiExecutorLiveTest, SlowTransfersAreAbandonedWhenTheExecutorGoes) {
    server.respond({200, {}, "late", 2000ms});
    startExecutor();
    executor->dispatchRequest(getRequest(server.url("/slow")));
    std::this_thread::sleep_for(100ms);
    executor.reset();
    EXPECT_EQ(0u, completions.count());
}

}  // namespace
}  // namespace vx::test
