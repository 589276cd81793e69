#include "LocalService.h"

#include <cstdint>
#include <memory>
#include <mutex>

#include "handlers/GetCredentialsHandler.h"
#include "http_client/StaticCurlHandleFactory.h"
#include "services/VaultService.h"

namespace vx::test {

namespace {

using vx::shared::agents::measurements::http::StaticCurlHandleFactory;

std::shared_ptr<StaticCurlHandleFactory> initialisedFactory() {
    static std::once_flag once;
    auto factory = std::make_shared<StaticCurlHandleFactory>();
    std::call_once(once, [&] { factory->globalInit(); });  // once per process, before any thread uses curl
    return factory;
}

}  // namespace

LocalService::LocalService(std::chrono::seconds exchangeBound) : server_("127.0.0.1", 0, 2, SIZE_MAX) {
    auto vaultService =
        std::make_shared<vx::rc::vault_accessor::service::VaultService>(initialisedFactory(), exchangeBound);
    server_.registerMethod(std::make_shared<vx::rc::vault_accessor::handlers::GetCredentialsHandler>(vaultService),
                           "getCredentials", "POST");
    server_.run();
    server_.waitUntilStarted();
}

LocalService::~LocalService() { server_.stop(); }

Answer LocalService::post(const std::string& body) {
    Caller caller(port());
    caller.send(Caller::post(body));
    return caller.readAnswer();
}

std::string credentialsRequest(const std::string& url, const std::string& ids) {
    return R"({"vaultType":"conjur","vaultUrl":")" + url +
           R"(","vaultAuthentication":{"account":"acct","hostId":"app","apiKey":"k3y-fault-0d41"},"vaultCredentials":)" +
           ids + "}";
}

}  // namespace vx::test
