#pragma once

// LocalService: the credential path as start-up wires it (real HttpServer with two I/O threads,
// GetCredentialsHandler, VaultService on real curl handles), in-process on a free loopback port,
// with a short bound on every vault exchange.

#include <chrono>
#include <cstdint>
#include <string>

#include "Caller.h"
#include "http_server/HttpServer.h"

namespace vx::test {

class LocalService {
public:
    explicit LocalService(std::chrono::seconds exchangeBound);
    ~LocalService();
    LocalService(const LocalService&) = delete;
    LocalService& operator=(const LocalService&) = delete;

    uint16_t port() const { return server_.getListeningPort(); }
    // One getCredentials request on its own connection.
    Answer post(const std::string& body);

private:
    vx::rc::HttpServer server_;
};

// A getCredentials body for the vault at url, reading the ids (a JSON array text).
std::string credentialsRequest(const std::string& url, const std::string& ids);

}  // namespace vx::test
