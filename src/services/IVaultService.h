#pragma once

#include <json/value.h>

#include <string>
#include <vector>

#include "services/Credentials.h"
#include "services/VaultType.h"

namespace vx::rc::vault_accessor::service {

// Reads a list of secrets from a vault; failures are the types of VaultExceptions.h.
class IVaultService {
public:
    virtual ~IVaultService() = default;
    virtual Credentials getCredentials(VaultType type, const std::string& vaultUrl,
                                       const Json::Value& authentication,
                                       const std::vector<std::string>& secretIds) const = 0;
};

}  // namespace vx::rc::vault_accessor::service
