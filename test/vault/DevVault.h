#pragma once

#include <sys/types.h>

#include <cstdint>
#include <string>
#include <vector>

namespace vx::test {

// tools/dev-vault/dev_vault.py as a child process, on free loopback ports, for one test.
class DevVault {
public:
    // fixture: the JSON fixture text; https: also serve TLS with the CA in caDir.
    DevVault(const std::string& workDir, const std::string& fixture, const std::string& caDir);
    ~DevVault();
    DevVault(const DevVault&) = delete;
    DevVault& operator=(const DevVault&) = delete;

    std::string httpUrl() const { return "http://127.0.0.1:" + std::to_string(httpPort_); }
    // "localhost" because the test certificate names it; the CA is trusted only inside the
    // private mount namespace of run-with-test-ca.sh.
    std::string httpsUrl() const { return "https://localhost:" + std::to_string(httpsPort_); }
    // One JSON object per request the vault received, in order.
    std::vector<std::string> recordedRequests() const;
    std::string recordText() const;

private:
    pid_t pid_ = -1;
    uint16_t httpPort_ = 0;
    uint16_t httpsPort_ = 0;
    std::string recordPath_;
};

// A POST /getCredentials on its own connection; status and body of the answer.
struct HttpAnswer {
    int status = 0;
    std::string body;
};
HttpAnswer postGetCredentials(uint16_t port, const std::string& body);


}  // namespace vx::test
