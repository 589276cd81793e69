#pragma once

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "clients/ConjurVaultClient.h"
#include "clients/IConjurVaultClient.h"
#include "services/IVaultService.h"

namespace vx::rc::vault_accessor::service {

// Picks the vault client, logs in once, reads every id in order and maps client failures
// to the vault exception types. Read-only after construction; each call has its own client.
class VaultService : public IVaultService {
public:
    using CurlHandleFactoryPtr = clients::ConjurVaultClient::CurlHandleFactoryPtr;

    explicit VaultService(CurlHandleFactoryPtr handleFactory,
                          std::chrono::seconds exchangeTimeout = clients::ConjurVaultClient::defaultExchangeTimeout);
    ~VaultService() override;

    Credentials getCredentials(VaultType type, const std::string& vaultUrl, const Json::Value& authentication,
                               const std::vector<std::string>& secretIds) const override;

    virtual std::unique_ptr<clients::IConjurVaultClient> createConjurVaultClient(const std::string& vaultUrl,
                                                                                 const std::string& account) const;

    Credentials getConjurCredentials(const std::string& vaultUrl, const Json::Value& authentication,
                                     const std::vector<std::string>& secretIds) const;

private:
    CurlHandleFactoryPtr handleFactory_;
    std::chrono::seconds exchangeTimeout_;
};

}  // namespace vx::rc::vault_accessor::service
