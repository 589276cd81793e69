#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <limits>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "RawClient.h"
#include "http_server/HttpServer.h"
#include "http_server/ServerException.h"

namespace vx::rc {
namespace {

using test::RawClient;
using Headers = std::vector<std::pair<std::string, std::string>>;
using namespace std::chrono_literals;

constexpr auto kNoLimit = std::numeric_limits<std::size_t>::max();

class TestResponse : public IHttpResponse {
public:
    TestResponse(int32_t status, std::string body, Headers headers = {})
        : status_(status), body_(std::move(body)), headers_(std::move(headers)) {}
    int32_t getStatusCode() const override { return status_; }
    const std::string& getBody() const override { return body_; }
    const Headers& getHeaders() const override { return headers_; }

private:
    int32_t status_;
    std::string body_;
    Headers headers_;
};

// A handler made of a lambda.
class LambdaMethod : public HttpServerMethod {
public:
    using Body = std::function<void(const IHttpRequest&, ResponseCallback)>;
    explicit LambdaMethod(Body body) : body_(std::move(body)) {}
    void execute(const IHttpRequest& request, ResponseCallback callback) override {
        body_(request, std::move(callback));
    }

private:
    Body body_;
};

// What a handler saw, copied while the request was alive.
struct SeenRequest {
    std::string method, body, secondBody, query, wholeMatch;
    Headers headers;
};

std::string post(const std::string& target, const std::string& body, const std::string& extra = "") {
    return "POST " + target + " HTTP/1.1\r\nHost: localhost\r\n" + extra +
           "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

std::string okWith(const std::string& body) {
    return "HTTP/1.1 200 OK\r\nContent-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
}

class HttpServerTest : public ::testing::Test {
protected:
    void startServer(std::size_t maxRequestSize = kNoLimit) {
        server_ = std::make_unique<HttpServer>("127.0.0.1", 0, 2, maxRequestSize);
        // Echoes the body and remembers what the handler saw.
        route("echo", "POST", [this](const IHttpRequest& request, HttpServerMethod::ResponseCallback callback) {
            {
                std::lock_guard<std::mutex> lock(mutex_);
                seen_ = SeenRequest{request.getMethod(), request.getBody(), request.getBody(),
                                    request.getQueryString(), request.getPathMatch()[0].str(), request.getHeaders()};
            }
            callback(TestResponse(200, request.getBody()));
        });
        for (auto& [name, body] : extraRoutes_) {
            route(name, "POST", body);
        }
        server_->run();
        server_->waitUntilStarted();
        port_ = server_->getListeningPort();
        ASSERT_NE(port_, 0);
    }

    void route(const std::string& name, const std::string& method, LambdaMethod::Body body) {
        server_->registerMethod(std::make_shared<LambdaMethod>(std::move(body)), name, method);
    }

    SeenRequest seen() {
        std::lock_guard<std::mutex> lock(mutex_);
        return seen_;
    }

    std::vector<std::pair<std::string, LambdaMethod::Body>> extraRoutes_;
    std::unique_ptr<HttpServer> server_;
    uint16_t port_ = 0;
    std::mutex mutex_;
    SeenRequest seen_;
};

TEST_F(HttpServerTest, RoutesOnlyTheExactPathAndMethod) {
    startServer();
    {
        RawClient client(port_);
        client.send(post("/echo", "hi"));
        EXPECT_EQ(client.readResponse(), okWith("hi"));
    }
    const std::string misses[] = {
        "GET /echo HTTP/1.1\r\nHost: x\r\n\r\n",
        post("/echo/", "hi"),
        post("/Echo", "hi"),
        post("/other", "hi"),
        "PUT /echo HTTP/1.1\r\nContent-Length: 0\r\n\r\n",
    };
    for (const auto& request : misses) {
        SCOPED_TRACE(request);
        RawClient client(port_);
        client.send(request);
        EXPECT_TRUE(client.waitForClose());
        EXPECT_EQ(client.received(), "");
    }
}

TEST_F(HttpServerTest, HandlerSeesQueryStringBodyAndHeaders) {
    startServer();
    RawClient client(port_);
    client.send(post("/echo?a=b%20c", "payload", "X-Twice: one\r\nX-Twice: two\r\n"));
    ASSERT_EQ(client.readResponse(), okWith("payload"));
    const auto request = seen();
    EXPECT_EQ(request.method, "POST");
    EXPECT_EQ(request.query, "a=b%20c");
    EXPECT_EQ(request.wholeMatch, "/echo");
    EXPECT_EQ(request.body, "payload");
    EXPECT_EQ(request.secondBody, request.body);
    const Headers expected = {
        {"Host", "localhost"}, {"X-Twice", "one"}, {"X-Twice", "two"}, {"Content-Length", "7"}};
    EXPECT_EQ(request.headers, expected);

    // No "?" and no header fields at all.
    client.send("POST /echo HTTP/1.1\r\n\r\n");
    ASSERT_EQ(client.readResponse(), okWith(""));
    EXPECT_EQ(seen().query, "");
    EXPECT_TRUE(seen().headers.empty());
}

TEST_F(HttpServerTest, WritesTheExactResponseBytes) {
    extraRoutes_.emplace_back("json", [](const IHttpRequest&, HttpServerMethod::ResponseCallback callback) {
        callback(TestResponse(200, "0123456789", {{"Content-Type", "application/json"}}));
    });
    extraRoutes_.emplace_back("sized", [](const IHttpRequest&, HttpServerMethod::ResponseCallback callback) {
        callback(TestResponse(200, "abc", {{"content-length", "3"}, {"X-A", "1"}}));
    });
    startServer();
    RawClient client(port_);
    client.send(post("/json", ""));
    EXPECT_EQ(client.readResponse(),
              "HTTP/1.1 200 OK\r\nContent-Type: application/json\r\nContent-Length: 10\r\n\r\n0123456789");
    client.send(post("/sized", ""));
    EXPECT_EQ(client.readResponse(), "HTTP/1.1 200 OK\r\ncontent-length: 3\r\nX-A: 1\r\n\r\nabc");
}

TEST_F(HttpServerTest, KeepAliveFollowsVersionAndConnectionField) {
    startServer();
    struct Case {
        std::string request;
        bool staysOpen;
    };
    const Case cases[] = {
        {"POST /echo HTTP/1.1\r\nContent-Length: 1\r\n\r\na", true},
        {"POST /echo HTTP/1.1\r\nConnection: close\r\nContent-Length: 1\r\n\r\na", false},
        {"POST /echo HTTP/1.0\r\nContent-Length: 1\r\n\r\na", false},
        {"POST /echo HTTP/1.0\r\nConnection: Keep-Alive\r\nContent-Length: 1\r\n\r\na", true},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.request);
        RawClient client(port_);
        client.send(c.request);
        EXPECT_EQ(client.readResponse(), okWith("a"));
        if (c.staysOpen) {
            // A second request on the same connection is served too.
            client.send(post("/echo", "second"));
            EXPECT_EQ(client.readResponse(), okWith("second"));
        } else {
            EXPECT_TRUE(client.waitForClose());
            EXPECT_EQ(client.received(), "");
        }
    }
}

TEST_F(HttpServerTest, AcceptsLargeBodiesAndHeaderBlocks) {
    startServer();
    RawClient client(port_);
    std::string body(6 * 1024 * 1024, 'x');
    for (std::size_t i = 0; i < body.size(); i += 4093) {
        body[i] = static_cast<char>('a' + i % 26);
    }
    client.send(post("/echo", body));
    EXPECT_EQ(client.readResponse(), okWith(body));
    EXPECT_EQ(seen().body, body);

    // A header block well over the parser's usual 8 KiB limit.
    std::string fields;
    for (int i = 0; i < 16; ++i) {
        fields += "X-Big-" + std::to_string(i) + ": " + std::string(4096, 'h') + "\r\n";
    }
    client.send(post("/echo", "h", fields));
    EXPECT_EQ(client.readResponse(), okWith("h"));
}

TEST_F(HttpServerTest, RequestOverAFiniteMaximumGetsPayloadTooLarge) {
    startServer(1024);
    RawClient client(port_);
    client.send(post("/echo", std::string(2048, 'x')));
    EXPECT_EQ(client.readResponse(), "HTTP/1.1 413 Payload Too Large\r\nContent-Length: 0\r\n\r\n");
    EXPECT_TRUE(client.waitForClose());
}

TEST_F(HttpServerTest, DropsAnIdleClientAfterTheHeaderTimeout) {
    startServer();
    RawClient client(port_);
    const auto start = std::chrono::steady_clock::now();
    EXPECT_TRUE(client.waitForClose(40s));
    const auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, 4s);
    EXPECT_EQ(client.received(), "");
}

TEST_F(HttpServerTest, RunsTwoSlowHandlersAtTheSameTime) {
    std::mutex mutex;
    std::condition_variable bothInside;
    int inside = 0;
    std::atomic<int> sawBoth{0};
    extraRoutes_.emplace_back("slow", [&](const IHttpRequest&, HttpServerMethod::ResponseCallback callback) {
        // Blocks this I/O thread until the other request is in its handler as well.
        std::unique_lock<std::mutex> lock(mutex);
        ++inside;
        bothInside.notify_all();
        if (bothInside.wait_for(lock, 30s, [&] { return inside >= 2; })) {
            ++sawBoth;
        }
        lock.unlock();
        callback(TestResponse(200, "slow"));
    });
    startServer();
    RawClient first(port_);
    RawClient second(port_);
    first.send(post("/slow", ""));
    second.send(post("/slow", ""));
    EXPECT_EQ(first.readResponse(60s), okWith("slow"));
    EXPECT_EQ(second.readResponse(60s), okWith("slow"));
    EXPECT_EQ(sawBoth, 2);
}

TEST_F(HttpServerTest, ServerExceptionBecomesABareStatusAnswer) {
    extraRoutes_.emplace_back("missing", [](const IHttpRequest&, HttpServerMethod::ResponseCallback) {
        throw ServerException(404, "no such thing");
    });
    extraRoutes_.emplace_back("failing", [](const IHttpRequest&, HttpServerMethod::ResponseCallback) {
        throw ServerException(500);
    });
    startServer();
    RawClient client(port_);
    client.send(post("/missing", ""));
    EXPECT_EQ(client.readResponse(), "HTTP/1.1 404 Not Found\r\nContent-Length: 13\r\n\r\nno such thing");
    client.send(post("/failing", ""));
    EXPECT_EQ(client.readResponse(), "HTTP/1.1 500 Internal Server Error\r\nContent-Length: 0\r\n\r\n");
}

TEST_F(HttpServerTest, UnansweredRequestsCloseTheConnectionAndServingGoesOn) {
    extraRoutes_.emplace_back("throwing", [](const IHttpRequest&, HttpServerMethod::ResponseCallback) {
        throw std::runtime_error("handler bug");
    });
    extraRoutes_.emplace_back("silent", [](const IHttpRequest&, HttpServerMethod::ResponseCallback) {});
    startServer();
    const std::string requests[] = {
        post("/throwing", ""),
        post("/silent", ""),
        "GARBAGE\r\n\r\n",
        "POST /echo HTTP/1.1\r\nContent-Length: nope\r\n\r\n",
        // One field larger than the parser's field store can hold.
        post("/echo", "", "X-Huge: " + std::string(70 * 1024, 'h') + "\r\n"),
    };
    for (const auto& request : requests) {
        SCOPED_TRACE(request);
        RawClient client(port_);
        client.send(request);
        EXPECT_TRUE(client.waitForClose());
        EXPECT_EQ(client.received(), "");
    }
    RawClient client(port_);
    client.send(post("/echo", "still here"));
    EXPECT_EQ(client.readResponse(), okWith("still here"));
}

TEST_F(HttpServerTest, CallbackAfterTheServerIsGoneDoesNothing) {
    std::mutex mutex;
    std::condition_variable kept;
    HttpServerMethod::ResponseCallback later;
    extraRoutes_.emplace_back("later", [&](const IHttpRequest&, HttpServerMethod::ResponseCallback callback) {
        std::lock_guard<std::mutex> lock(mutex);
        later = std::move(callback);
        kept.notify_all();
    });
    startServer();
    RawClient client(port_);
    client.send(post("/later", ""));
    {
        std::unique_lock<std::mutex> lock(mutex);
        ASSERT_TRUE(kept.wait_for(lock, 30s, [&] { return static_cast<bool>(later); }));
    }
    server_.reset();
    EXPECT_TRUE(client.waitForClose());
    later(TestResponse(200, "too late"));
    later = nullptr;
    EXPECT_EQ(client.received(), "");
}

TEST(HttpServerLifecycleTest, StartFailureIsReportedToTheOwner) {
    HttpServer first("127.0.0.1", 0, 1, kNoLimit);
    first.run();
    first.waitUntilStarted();
    const auto port = first.getListeningPort();

    HttpServer second("127.0.0.1", port, 2, kNoLimit);
    second.run();
    try {
        second.waitUntilStarted();
        FAIL() << "second server on a taken port started";
    } catch (const std::exception& error) {
        const std::string text = error.what();
        EXPECT_NE(text.find("127.0.0.1"), std::string::npos) << text;
        EXPECT_NE(text.find(std::to_string(port)), std::string::npos) << text;
    }
    second.stop();
    second.stop();
}

TEST(HttpServerLifecycleTest, StopOnANeverRunServerReturnsAtOnce) {
    HttpServer server("127.0.0.1", 0, 2, kNoLimit);
    server.stop();
    server.stop();
}

}  // namespace
}  // namespace vx::rc
