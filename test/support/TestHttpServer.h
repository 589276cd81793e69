#pragma once

// TestHttpServer: a small HTTP/1.1 server on 127.0.0.1 (free port) for tests, with optional TLS.
// It records every request (method, target, headers, body) and answers with scripted responses,
// in the order they were queued; once the queue is empty it answers 200 with an empty body.
// Keep-alive, "Expect: 100-continue" and chunked request bodies are handled. One thread per connection.
//
//   vx::test::TestHttpServer server(vx::test::TestHttpServer::Tls::On);
//   server.respond({201, {{"Content-Type", "application/json"}}, "{}"});
//   ... point the client at server.url("/authn/x") and trust server.caFile() ...
//   auto seen = server.requests();  // seen[0].method, seen[0].header("Authorization"), seen[0].body
//
// The TLS certificate is made at run time (see TestCertificates) for localhost, 127.0.0.1 and ::1.
// The process ignores SIGPIPE once a server exists, so a client hanging up cannot kill the test.

#include <openssl/ssl.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "support/TempDir.h"

namespace vx::test {

using HeaderList = std::vector<std::pair<std::string, std::string>>;

struct RecordedRequest {
    std::string method;
    std::string target;   // path and query as sent
    std::string version;  // "HTTP/1.1"
    HeaderList headers;   // in the order received
    std::string body;     // de-chunked
    size_t connection = 0;  // which accepted connection it came on, from 0

    // First header of that name (case-insensitive).
    std::optional<std::string> header(const std::string& name) const;
};

struct ScriptedResponse {
    int status = 200;
    HeaderList headers;  // Content-Length is added unless given here
    std::string body;
    std::chrono::milliseconds delay{0};  // waited before answering
    bool close = false;                  // close the connection after the answer
    bool hangUp = false;                 // close the connection instead of answering
};

class TestHttpServer {
public:
    enum class Tls { Off, On };

    explicit TestHttpServer(Tls tls = Tls::Off);
    ~TestHttpServer();
    TestHttpServer(const TestHttpServer&) = delete;
    TestHttpServer& operator=(const TestHttpServer&) = delete;

    void respond(ScriptedResponse response);
    uint16_t port() const { return boundPort; }
    // "http://127.0.0.1:<port><path>" or "https://...".
    std::string url(const std::string& path = "/") const;
    std::vector<RecordedRequest> requests() const;
    size_t connectionCount() const;
    // The CA that signed the server certificate, as a PEM file and as text ("" without TLS).
    const std::string& caFile() const { return caPath; }
    const std::string& caPem() const { return caText; }

private:
    class Connection;

    void acceptLoop();
    void serve(int fd, size_t index);
    ScriptedResponse nextResponse();
    bool waitUnlessStopping(std::chrono::milliseconds delay);

    TempDir dir{"vx-test-server"};
    SSL_CTX* tlsContext = nullptr;
    std::string caPath;
    std::string caText;
    int listenFd = -1;
    uint16_t boundPort = 0;
    std::atomic<bool> stopping{false};

    mutable std::mutex mutex;
    std::condition_variable stopSignal;
    std::deque<ScriptedResponse> script;
    std::vector<RecordedRequest> recorded;
    std::vector<int> connectionFds;
    std::vector<std::thread> connectionThreads;
    std::thread acceptor;
};

}  // namespace vx::test
