#pragma once

#include <string>

#include "clients/CredentialResponse.h"
#include "clients/CredentialResponseError.h"

namespace vx::rc::vault_accessor::clients {

// A Conjur session: one login, then any number of secret reads, on one thread.
class IConjurVaultClient {
public:
    virtual ~IConjurVaultClient() = default;
    virtual CredentialResponseError authenticate(const std::string& hostId, const std::string& apiKey) = 0;
    virtual CredentialResponse getCredential(const std::string& id) = 0;
};

}  // namespace vx::rc::vault_accessor::clients
