#pragma once

// Caller: a blocking loopback client that speaks raw bytes to the in-process service, so tests
// can send half a request, stop reading, or hang up whenever they like.

#include <chrono>
#include <cstdint>
#include <string>

namespace vx::test {

struct Answer {
    int status = 0;  // 0: no answer before the connection ended or the wait ran out
    std::string body;
};

class Caller {
public:
    explicit Caller(uint16_t port);
    ~Caller();
    Caller(const Caller&) = delete;
    Caller& operator=(const Caller&) = delete;

    bool connected() const { return fd_ >= 0; }
    void send(const std::string& bytes);
    // One whole answer (header block plus Content-Length bytes).
    Answer readAnswer(std::chrono::seconds wait = std::chrono::seconds(120));
    // True when the service ends the connection within the wait.
    bool waitForClose(std::chrono::seconds wait);
    // Ends our side at once.
    void hangUp();
    // Says we will send nothing more, keeping the reading side open.
    void finishSending();

    static std::string post(const std::string& body);

private:
    // False when nothing more will come (end, error or the deadline).
    bool receiveSome(std::chrono::steady_clock::time_point deadline);

    int fd_ = -1;
    std::string received_;
};

}  // namespace vx::test
