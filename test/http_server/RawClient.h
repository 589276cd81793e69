#pragma once

#include <chrono>
#include <cstdint>
#include <string>

namespace vx::rc::test {

// A blocking loopback TCP client that speaks raw bytes, so tests see exactly what the
// server writes and when it closes.
class RawClient {
public:
    explicit RawClient(uint16_t port);
    ~RawClient();
    RawClient(const RawClient&) = delete;
    RawClient& operator=(const RawClient&) = delete;

    void send(const std::string& bytes);
    // One whole response (header block plus Content-Length bytes); what arrived so far
    // when the connection ends or the wait runs out.
    std::string readResponse(std::chrono::seconds wait = std::chrono::seconds(30));
    // True when the server closes the connection within the wait; bytes that arrive
    // meanwhile go to received().
    bool waitForClose(std::chrono::seconds wait = std::chrono::seconds(30));
    const std::string& received() const { return pending_; }

private:
    // Appends what arrives within the wait; false on timeout, and sets closed_ on EOF.
    bool receiveSome(std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    bool closed_ = false;
    std::string pending_;
};

}  // namespace vx::rc::test
