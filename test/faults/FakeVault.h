#pragma once

// FakeVault: a raw-socket stand-in for a vault on 127.0.0.1 (free port) that can misbehave at
// the byte level: every accepted connection runs the given behaviour on its own thread.
// Behaviours can hold back until the test releases them, so a faulty exchange can be kept
// pending while the test checks that the service still answers other callers.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <thread>
#include <vector>

namespace vx::test {

class FakeVault;

// One accepted connection as a behaviour sees it.
class VaultConnection {
public:
    VaultConnection(FakeVault& vault, int fd) : vault_(vault), fd_(fd) {}

    // Reads one request (header block and Content-Length body); its target, or nothing when
    // the peer is gone or the vault stops.
    std::optional<std::string> readRequest();
    // Reads whatever arrives first (a TLS client hello, say); false when nothing came.
    bool readSome();
    // False once the peer is gone or the vault stops.
    bool send(std::string_view bytes);
    // Closes with a TCP reset instead of an orderly end.
    void reset();
    bool isOpen() const { return fd_ >= 0; }
    // Records a marker for FakeVault::waitForRequest, as a request target would be.
    void note(const std::string& marker);
    // Waits for FakeVault::release; false when the vault stops first.
    bool waitForRelease();
    // Sleeps; false when the vault stops first.
    bool pause(std::chrono::milliseconds duration);

private:
    FakeVault& vault_;
    int fd_;
    std::string pending_;
};

class FakeVault {
public:
    using Behaviour = std::function<void(VaultConnection&)>;

    explicit FakeVault(Behaviour behaviour);
    ~FakeVault();
    FakeVault(const FakeVault&) = delete;
    FakeVault& operator=(const FakeVault&) = delete;

    std::string url(const std::string& scheme = "http") const;
    // Lets every behaviour waiting in waitForRelease go on.
    void release();
    // Called by behaviours to say a request for this target arrived.
    void noteRequest(const std::string& target);
    // True once a request whose target starts with prefix has arrived within the wait.
    bool waitForRequest(const std::string& prefix, std::chrono::seconds wait);

    // Answers every request of the connection with status and body.
    static void answerAll(VaultConnection& connection, int status, const std::string& body);

private:
    friend class VaultConnection;

    void acceptLoop();
    void serve(int fd);
    void closeNow(int fd);
    // Waits on the shared signal until done() or stop; false on stop.
    bool waitFor(const std::function<bool()>& done, std::chrono::milliseconds limit);

    Behaviour behaviour_;
    int listenFd_ = -1;
    uint16_t port_ = 0;
    std::atomic<bool> stopping_{false};

    std::mutex mutex_;
    std::condition_variable signal_;
    bool released_ = false;
    std::vector<std::string> targets_;
    std::vector<int> fds_;
    std::vector<std::thread> threads_;
    std::thread acceptor_;
};

}  // namespace vx::test
