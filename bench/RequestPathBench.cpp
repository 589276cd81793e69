// The request path alone: the real HttpServer and GetCredentialsHandler in front of a vault
// service double that answers at once, so no network or TLS is measured. Rounds alternate
// DEBUG and INFO on a real rolling log file and report requests per second for each.
//   bench_request_path [rounds=4] [seconds-per-round=2] [callers=1] [secrets=1]
// Prints one JSON line per round.

#include <log4cxx/level.h>
#include <log4cxx/logger.h>
#include <unistd.h>

#include <cstdlib>
#include <iostream>
#include <limits>
#include <memory>
#include <string>

#include "LoadClient.h"
#include "handlers/GetCredentialsHandler.h"
#include "http_server/HttpServer.h"
#include "services/IVaultService.h"
#include "vx/util/LogManager.h"

namespace {

using namespace vx::rc::vault_accessor;

// Returns the same secrets for every call, like a vault that answers in no time.
class FixedVaultService : public service::IVaultService {
public:
    explicit FixedVaultService(int secrets) {
        for (int i = 0; i < secrets; ++i) {
            clients::SecureBuffer value;
            value.append("value-of-secret-" + std::to_string(i));
            credentials_.emplace("s" + std::to_string(i), std::move(value));
        }
    }
    service::Credentials getCredentials(service::VaultType, const std::string&, const Json::Value&,
                                        const std::vector<std::string>&) const override {
        return credentials_;
    }

private:
    service::Credentials credentials_;
};

std::string requestBody(int secrets) {
    std::string ids;
    for (int i = 0; i < secrets; ++i) {
        ids += (i != 0 ? ",\"s" : "\"s") + std::to_string(i) + "\"";
    }
    return R"({"vaultType":"conjur","vaultUrl":"https://127.0.0.1:1","vaultAuthentication":)"
           R"({"account":"bench","hostId":"bench","apiKey":"bench-api-key"},"vaultCredentials":[)" +
           ids + "]}";
}

}  // namespace

int main(int argc, char** argv) {
    const int rounds = argc > 1 ? std::atoi(argv[1]) : 4;
    const double seconds = argc > 2 ? std::atof(argv[2]) : 2.0;
    const int callers = argc > 3 ? std::atoi(argv[3]) : 1;
    const int secrets = argc > 4 ? std::atoi(argv[4]) : 1;

    char logDir[] = "/tmp/vx-bench-log.XXXXXX";
    if (::mkdtemp(logDir) == nullptr) {
        return 1;
    }
    vx::util::log_manager::addMainLogAppender(logDir, "bench.log", 10, 2, "DEBUG");
    auto root = log4cxx::Logger::getRootLogger();

    vx::rc::HttpServer server("127.0.0.1", 0, 2, std::numeric_limits<std::size_t>::max());
    server.registerMethod(std::make_shared<handlers::GetCredentialsHandler>(std::make_shared<FixedVaultService>(secrets)),
                          "getCredentials", "POST");
    server.run();
    server.waitUntilStarted();

    const std::string body = requestBody(secrets);
    for (int round = 0; round < rounds; ++round) {
        for (const char* level : {"DEBUG", "INFO"}) {
            root->setLevel(log4cxx::Level::toLevel(level));
            const auto result = vx::bench::runLoad(server.getListeningPort(), body, callers, seconds, 1000000);
            std::cout << "{\"round\":" << round << ",\"level\":\"" << level << "\",\"result\":"
                      << vx::bench::describe(result) << "}" << std::endl;
        }
    }
    server.stop();
    std::system((std::string("rm -rf ") + logDir).c_str());
    return 0;
}
