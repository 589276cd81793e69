// The executor against scripted loop and multi-handle doubles: every step runs on the test thread.

#include <gtest/gtest.h>

#include <chrono>
#include <functional>
#include <memory>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

#include "http_client/CurlMultiExecutor.h"
#include "http_client/StaticCurlHandleFactory.h"
#include "multi/MultiDoubles.h"

namespace vx::test {
namespace {

// Records its own destruction, so a test can see when the completion function went.
struct Sentinel {
    explicit Sentinel(std::shared_ptr<Journal> log) : journal(std::move(log)) {}
    ~Sentinel() { journal->add("callback destroyed"); }
    std::shared_ptr<Journal> journal;
};

struct Completion {
    const ICurlHandle* handle;
    long code;
};

// The parts of one executor, kept reachable after they are handed over.
struct Parts {
    std::shared_ptr<Journal> journal = std::make_shared<Journal>();
    CurlMultiHandlePtr multiPtr{new ScriptedMultiHandle(journal), &destroyFactoryObject<ICurlMultiHandle>};
    MultiEventLoopPtr loopPtr{new ScriptedLoop(journal), &destroyFactoryObject<IMultiEventLoop>};
    ScriptedMultiHandle& multi = static_cast<ScriptedMultiHandle&>(*multiPtr);
    ScriptedLoop& loop = static_cast<ScriptedLoop&>(*loopPtr);
    std::vector<Completion> completions;
    CompletionFunction onComplete;
    WorkerStartFunction onWorkerStart;

    Parts() {
        auto sentinel = std::make_shared<Sentinel>(journal);
        onComplete = [this, sentinel](const ICurlHandle& handle, long code) {
            completions.push_back({&handle, code});
        };
    }

    std::unique_ptr<CurlMultiExecutor> build() {
        return std::make_unique<CurlMultiExecutor>(std::move(multiPtr), std::move(loopPtr), std::move(onComplete),
                                                   std::move(onWorkerStart));
    }
};

std::string constructionError(Parts& parts) {
    try {
        parts.build();
    } catch (const CurlMultiException& error) {
        return error.what();
    }
    return "(no exception)";
}

struct ConstructorCase {
    const char* name;
    std::function<void(Parts&)> arrange;
    const char* message;
    bool loopStopped;
};

TEST(CurlMultiExecutorConstruction, FailuresThrowTheirMessageAndReleaseEveryPart) {
    const std::vector<ConstructorCase> cases = {
        {"no multi handle", [](Parts& p) { p.multiPtr.reset(); },
         "CurlMultiExecutor requires multi handle, loop, and callback", false},
        {"no loop", [](Parts& p) { p.loopPtr.reset(); }, "CurlMultiExecutor requires multi handle, loop, and callback",
         false},
        {"no completion function", [](Parts& p) { p.onComplete = nullptr; },
         "CurlMultiExecutor requires multi handle, loop, and callback", false},
        {"loop does not start", [](Parts& p) { p.loop.startResult = false; },
         "CurlMultiExecutor failed to start event loop", false},
        {"multi handle init fails", [](Parts& p) { p.multi.initResult = false; },
         "CurlMultiExecutor failed to init multi handle", true},
        {"socket callback refused", [](Parts& p) { p.multi.socketCallbackResult = CURLM_UNKNOWN_OPTION; },
         "CurlMultiExecutor failed to set socket callback", true},
        {"timer callback refused", [](Parts& p) { p.multi.timerCallbackResult = CURLM_UNKNOWN_OPTION; },
         "CurlMultiExecutor failed to set timer callback", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.name);
        Parts parts;
        auto journal = parts.journal;
        c.arrange(parts);
        EXPECT_EQ(c.message, constructionError(parts));
        EXPECT_EQ(c.loopStopped, journal->contains("loop stopped"));
        // Whatever the constructor took over is gone.
        EXPECT_TRUE(journal->contains("callback destroyed"));
        EXPECT_TRUE(journal->contains("loop destroyed"));
        EXPECT_TRUE(journal->contains("multi destroyed"));
    }
}

TEST(CurlMultiExecutorConstruction, LoopThatNeverRunsTheInitTaskTimesOutAfterTwoSeconds) {
    Parts parts;
    auto journal = parts.journal;
    parts.loop.posts = ScriptedLoop::Posts::Drop;
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ("CurlMultiExecutor timed out waiting for worker initialization", constructionError(parts));
    EXPECT_GE(std::chrono::steady_clock::now() - begin, std::chrono::milliseconds(1900));
    EXPECT_TRUE(journal->contains("loop stopped"));
    EXPECT_FALSE(journal->contains("multi init"));
}

TEST(CurlMultiExecutorConstruction, WorkerStartRunsFirstAndItsExceptionIsRethrownUnchanged) {
    Parts good;
    good.onWorkerStart = [journal = good.journal] { journal->add("worker started"); };
    good.build();
    const auto entries = good.journal->snapshot();
    ASSERT_GE(entries.size(), 2u);
    EXPECT_EQ("worker started", entries[0]);
    EXPECT_EQ("multi init", entries[1]);

    Parts bad;
    bad.onWorkerStart = [] { throw std::logic_error("worker broke"); };
    try {
        bad.build();
        FAIL() << "no exception";
    } catch (const std::logic_error& error) {
        EXPECT_STREQ("worker broke", error.what());
    }
    EXPECT_TRUE(bad.journal->contains("loop stopped"));
    EXPECT_FALSE(bad.journal->contains("multi init"));
}

TEST(CurlMultiExecutorLifecycle, DestructionStopsLoopBeforeAnythingGoes) {
    Parts parts;
    auto journal = parts.journal;
    parts.build().reset();
    const std::vector<std::string> expected = {"multi init", "loop stopped", "loop destroyed", "callback destroyed",
                                               "multi destroyed"};
    EXPECT_EQ(expected, journal->snapshot());
}

TEST(CurlMultiExecutorLifecycle, FactoryWithoutLoopThrowsAndReleasesTheRest) {
    StaticCurlHandleFactory factory;
    auto journal = std::make_shared<Journal>();
    auto sentinel = std::make_shared<Sentinel>(journal);
    CompletionFunction onComplete = [sentinel](const ICurlHandle&, long) {};
    sentinel.reset();
    try {
        factory.createMultiExecutor(MultiEventLoopPtr(nullptr, &destroyFactoryObject<IMultiEventLoop>), onComplete,
                                    {});
        FAIL() << "no exception";
    } catch (const CurlMultiException& error) {
        EXPECT_STREQ("CurlMultiExecutor requires multi handle, loop, and callback", error.what());
    }
    // Only the caller's own function remains; the factory's copies are gone.
    onComplete = nullptr;
    EXPECT_TRUE(journal->contains("callback destroyed"));
}

TEST(CurlMultiExecutorLifecycle, FactoryTakesTheLoopAndReleasesItWhenStartFails) {
    StaticCurlHandleFactory factory;
    auto journal = std::make_shared<Journal>();
    auto* loop = new ScriptedLoop(journal);
    loop->startResult = false;
    MultiEventLoopPtr loopPtr(loop, &destroyFactoryObject<IMultiEventLoop>);
    EXPECT_THROW(factory.createMultiExecutor(std::move(loopPtr), [](const ICurlHandle&, long) {}, {}),
                 CurlMultiException);
    EXPECT_EQ(nullptr, loopPtr.get());
    EXPECT_TRUE(journal->contains("loop destroyed"));
}

// A running executor over the doubles; posts run inline unless a test queues them.
class RunningExecutor : public ::testing::Test {
protected:
    void SetUp() override { executor = parts.build(); }

    Parts parts;
    ScriptedMultiHandle& multi = parts.multi;
    ScriptedLoop& loop = parts.loop;
    std::unique_ptr<CurlMultiExecutor> executor;
};

TEST_F(RunningExecutor, SocketEventBitsBecomeCurlMasks) {
    struct MaskCase {
        unsigned events;
        int mask;  // -1: no socket action at all
    };
    const std::vector<MaskCase> cases = {
        {1, CURL_CSELECT_IN},  {2, CURL_CSELECT_OUT}, {3, CURL_CSELECT_IN | CURL_CSELECT_OUT},
        {4, CURL_CSELECT_ERR}, {8, CURL_CSELECT_ERR}, {12, CURL_CSELECT_ERR},
        {9, CURL_CSELECT_IN | CURL_CSELECT_ERR}, {15, CURL_CSELECT_IN | CURL_CSELECT_OUT | CURL_CSELECT_ERR},
        {0, -1},               {16, -1},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.events);
        multi.actions.clear();
        loop.socketEvent(7, c.events);
        if (c.mask < 0) {
            EXPECT_TRUE(multi.actions.empty());
        } else {
            ASSERT_EQ(1u, multi.actions.size());
            EXPECT_EQ(std::make_pair(7, c.mask), multi.actions[0]);
        }
    }
}

TEST_F(RunningExecutor, SocketFunctionTurnsCurlInterestIntoWatchCalls) {
    using Poll = ICurlMultiHandle::CurlMultiPoll;
    EXPECT_EQ(0, multi.socketFunction(nullptr, 5, Poll::PollIn));
    EXPECT_EQ(0, multi.socketFunction(nullptr, 6, Poll::PollOut));
    EXPECT_EQ(0, multi.socketFunction(nullptr, 7, Poll::PollInOut));
    EXPECT_EQ(0, multi.socketFunction(nullptr, 8, Poll::PollRemove));
    EXPECT_EQ(0, multi.socketFunction(nullptr, 9, Poll::PollNone));
    const std::vector<std::pair<int, int>> watches = {{5, 1}, {6, 2}, {7, 3}};
    EXPECT_EQ(watches, loop.watches);
    EXPECT_EQ((std::vector<int>{8, 9}), loop.unwatches);

    loop.result = -1;  // the loop's failure reaches libcurl
    EXPECT_EQ(-1, multi.socketFunction(nullptr, 5, Poll::PollIn));
    EXPECT_EQ(-1, multi.socketFunction(nullptr, 5, Poll::PollRemove));
}

TEST_F(RunningExecutor, TimerFunctionArmsTheLoopTimerAndPostsAZeroTimeout) {
    loop.posts = ScriptedLoop::Posts::Queue;
    EXPECT_EQ(0, multi.timerFunction(nullptr, 250));
    EXPECT_EQ(0, multi.timerFunction(nullptr, -1));
    loop.result = -1;
    EXPECT_EQ(-1, multi.timerFunction(nullptr, 40));
    EXPECT_EQ((std::vector<long>{250, -1, 40}), loop.timers);
    EXPECT_TRUE(multi.actions.empty());

    // Zero: libcurl must not be re-entered from its own timer function.
    EXPECT_EQ(0, multi.timerFunction(nullptr, 0));
    EXPECT_EQ(3u, loop.timers.size());
    EXPECT_TRUE(multi.actions.empty());
    ASSERT_EQ(1u, loop.queued.size());
    loop.runQueued();
    EXPECT_EQ((std::vector<std::pair<int, int>>{{CURL_SOCKET_TIMEOUT, 0}}), multi.actions);
}

TEST_F(RunningExecutor, FinishedTransfersAreRemovedThenReportedWithTheirStatus) {
    StatusHandle refused(500), done(204);
    multi.refuseRemoval.insert(&refused);
    multi.messages.push_back({CURLMSG_DONE, nullptr, CURLE_OK, 0});  // not ours: skipped
    multi.queueDone(&refused);                                        // removal fails: skipped
    multi.queueDone(&done);
    loop.timeout();
    EXPECT_EQ((std::vector<std::pair<int, int>>{{CURL_SOCKET_TIMEOUT, 0}}), multi.actions);
    EXPECT_EQ((std::vector<ICurlHandle*>{&refused, &done}), multi.removed);
    ASSERT_EQ(1u, parts.completions.size());
    EXPECT_EQ(&done, parts.completions[0].handle);
    EXPECT_EQ(204, parts.completions[0].code);
}

TEST(CurlMultiExecutorCompletion, ThrowingCompletionIsReportedAndLaterTransfersStillComplete) {
    StatusHandle first(200), second(201);
    Parts fresh;
    fresh.onComplete = [&fresh, &first](const ICurlHandle& handle, long code) {
        if (&handle == &first) {
            throw std::runtime_error("first went wrong");
        }
        fresh.completions.push_back({&handle, code});
    };
    auto running = fresh.build();
    fresh.multi.queueDone(&first);
    fresh.multi.queueDone(&second);
    ::testing::internal::CaptureStderr();
    fresh.loop.socketEvent(3, 1);
    const std::string errors = ::testing::internal::GetCapturedStderr();
    EXPECT_EQ("CurlMultiExecutor callback error: first went wrong\n", errors);
    ASSERT_EQ(1u, fresh.completions.size());
    EXPECT_EQ(&second, fresh.completions[0].handle);
    EXPECT_EQ(201, fresh.completions[0].code);
}

TEST_F(RunningExecutor, DispatchHandlesEmptyNullThrowingAndRefusedRequests) {
    StatusHandle handle(200);
    const int postsBefore = loop.postCalls;
    executor->dispatchRequest(nullptr);
    EXPECT_EQ(postsBefore, loop.postCalls);

    executor->dispatchRequest([]() -> ICurlHandle* { return nullptr; });
    EXPECT_TRUE(multi.added.empty());

    ::testing::internal::CaptureStderr();
    executor->dispatchRequest([]() -> ICurlHandle* { throw std::runtime_error("no URL"); });
    EXPECT_EQ("CurlMultiExecutor request builder error: no URL\n", ::testing::internal::GetCapturedStderr());
    EXPECT_TRUE(multi.added.empty());
    EXPECT_TRUE(parts.completions.empty());

    multi.addResult = CURLM_ADDED_ALREADY;
    executor->dispatchRequest([&handle] { return &handle; });
    ASSERT_EQ(1u, parts.completions.size());
    EXPECT_EQ(&handle, parts.completions[0].handle);
    EXPECT_EQ(0, parts.completions[0].code);
    EXPECT_TRUE(multi.actions.empty());

    multi.addResult = CURLM_OK;
    executor->dispatchRequest([&handle] { return &handle; });
    EXPECT_EQ((std::vector<std::pair<int, int>>{{CURL_SOCKET_TIMEOUT, 0}}), multi.actions);
    EXPECT_EQ(1u, parts.completions.size());
}

}  // namespace
}  // namespace vx::test
