#pragma once

// RefusingPort: a loopback TCP port that is bound but not listening, so every connection attempt
// to 127.0.0.1:port() is refused at once. The port stays reserved for the object's lifetime.

#include <cstdint>

namespace vx::test {

class RefusingPort {
public:
    RefusingPort();
    ~RefusingPort();
    RefusingPort(const RefusingPort&) = delete;
    RefusingPort& operator=(const RefusingPort&) = delete;

    uint16_t port() const { return boundPort; }

private:
    int fd = -1;
    uint16_t boundPort = 0;
};

}  // namespace vx::test
