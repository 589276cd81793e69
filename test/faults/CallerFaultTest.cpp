// Callers misbehaving on raw sockets: half requests, short bodies, hang-ups and a crowd of idle
// connections must neither crash the service nor keep it from answering a proper request.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <algorithm>
#include <chrono>
#include <future>
#include <memory>
#include <string>
#include <vector>

#include "FakeVault.h"
#include "LocalService.h"

namespace {

using namespace std::chrono_literals;
using vx::test::Caller;
using vx::test::credentialsRequest;
using vx::test::FakeVault;
using vx::test::LocalService;
using vx::test::VaultConnection;

constexpr char value[] = "caller-test-4e1b";

class CallerFaultTest : public ::testing::Test {
protected:
    void expectServes() {
        const auto answer = service.post(credentialsRequest(vault.url(), R"(["s"])"));
        EXPECT_EQ(answer.status, 200);
        EXPECT_EQ(answer.body, std::string("{\"data\":{\"s\":\"") + value + "\"}}\n");
    }

    FakeVault vault{[](VaultConnection& c) { FakeVault::answerAll(c, 200, value); }};
    LocalService service{20s};
};

TEST_F(CallerFaultTest, HalfSentRequestLineIsDroppedAfterTheHeaderTimeout) {
    const auto start = std::chrono::steady_clock::now();
    Caller silent(service.port());
    silent.send("POST /getCreden");
    expectServes();
    EXPECT_TRUE(silent.waitForClose(60s));
    const auto elapsed = std::chrono::steady_clock::now() - start;
    EXPECT_GE(elapsed, 4s);
    EXPECT_LT(elapsed, 60s);
    expectServes();
}

TEST_F(CallerFaultTest, BodyShorterThanItsLengthHoldsNothingElse) {
    Caller shortBody(service.port());
    const auto body = credentialsRequest(vault.url(), R"(["s"])");
    shortBody.send(Caller::post(body).substr(0, Caller::post(body).size() - 10));
    expectServes();
    // Its end arrives before the promised length: dropped without an answer.
    shortBody.finishSending();
    EXPECT_TRUE(shortBody.waitForClose(60s));
    EXPECT_EQ(shortBody.readAnswer(1s).status, 0);
    expectServes();
}

TEST_F(CallerFaultTest, CallerGoneBeforeTheAnswerIsWritten) {
    FakeVault held([](VaultConnection& c) {
        if (c.readRequest() && c.waitForRelease()) {
            c.send("HTTP/1.1 200 OK\r\nContent-Length: 3\r\n\r\ntok");
        }
    });
    {
        Caller impatient(service.port());
        impatient.send(Caller::post(credentialsRequest(held.url(), R"(["s"])")));
        ASSERT_TRUE(held.waitForRequest("/authn/", 60s));
    }
    held.release();
    ASSERT_TRUE(held.waitForRequest("/secrets/", 60s)) << "the request went on without its caller";
    expectServes();
    expectServes();
}

// Lifts the descriptor limit as far as allowed; the count of idle connections follows it.
std::size_t idleConnectionCount() {
    rlimit limit{};
    if (getrlimit(RLIMIT_NOFILE, &limit) == 0 && limit.rlim_cur < limit.rlim_max) {
        limit.rlim_cur = std::min<rlim_t>(limit.rlim_max, 4096);
        setrlimit(RLIMIT_NOFILE, &limit);
        getrlimit(RLIMIT_NOFILE, &limit);
    }
    // Both ends live in this process, and the service needs some to spare.
    const auto affordable = limit.rlim_cur > 256 ? (limit.rlim_cur - 256) / 2 : 0;
    return std::min<std::size_t>(1000, affordable);
}

TEST_F(CallerFaultTest, ThousandIdleConnectionsLeaveTheServiceAnswering) {
    const auto count = idleConnectionCount();
    ASSERT_GE(count, 100u) << "descriptor limit too low for this test";
    std::vector<std::unique_ptr<Caller>> idle;
    for (std::size_t i = 0; i < count; ++i) {
        idle.push_back(std::make_unique<Caller>(service.port()));
        ASSERT_TRUE(idle.back()->connected()) << "connection " << i;
    }
    expectServes();
    // Each is dropped by the header timeout, so idle callers cost nothing for long.
    for (auto& caller : idle) {
        ASSERT_TRUE(caller->waitForClose(60s));
    }
    expectServes();
}

}  // namespace
