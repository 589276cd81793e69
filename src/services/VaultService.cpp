#include "services/VaultService.h"

#include <utility>

#include "services/VaultExceptions.h"
#include "vx/util/Logging.h"

namespace vx::rc::vault_accessor::service {

namespace {

using clients::CredentialResponseError;

VX_DEFINE_LOGGER(logger, "vx.vault.services.VaultService")

// A missing member reads as null, which converts to the empty string.
std::string memberText(const Json::Value& object, const char* name) {
    const Json::Value* member = object.find(name, name + std::char_traits<char>::length(name));
    return member ? member->asString() : std::string();
}

[[noreturn]] void throwLoginFailure(CredentialResponseError error) {
    switch (error) {
        case CredentialResponseError::Unauthorized:
            throw VaultAuthenticationException();
        case CredentialResponseError::Inaccessible:
            throw VaultInaccessibleException();
        default:
            throw VaultServiceException();
    }
}

[[noreturn]] void throwReadFailure(CredentialResponseError error, const std::string& id) {
    switch (error) {
        case CredentialResponseError::NotAuthenticated:
            throw VaultAuthenticationException();
        case CredentialResponseError::NotFound:
            throw VaultCredentialNotFoundException(id);
        case CredentialResponseError::Inaccessible:
            throw VaultInaccessibleException();
        default:
            throw VaultServiceException();
    }
}

}  // namespace

VaultService::VaultService(CurlHandleFactoryPtr handleFactory, std::chrono::seconds exchangeTimeout)
    : handleFactory_(std::move(handleFactory)), exchangeTimeout_(exchangeTimeout) {}

VaultService::~VaultService() = default;

Credentials VaultService::getCredentials(VaultType type, const std::string& vaultUrl,
                                         const Json::Value& authentication,
                                         const std::vector<std::string>& secretIds) const {
    if (type != VaultType::Conjur) {
        throw VaultTypeNotSupportedException();
    }
    return getConjurCredentials(vaultUrl, authentication, secretIds);
}

std::unique_ptr<clients::IConjurVaultClient> VaultService::createConjurVaultClient(const std::string& vaultUrl,
                                                                                   const std::string& account) const {
    return std::make_unique<clients::ConjurVaultClient>(handleFactory_, vaultUrl, account, exchangeTimeout_);
}

Credentials VaultService::getConjurCredentials(const std::string& vaultUrl, const Json::Value& authentication,
                                               const std::vector<std::string>& secretIds) const {
    const auto client = createConjurVaultClient(vaultUrl, memberText(authentication, "account"));
    const auto login =
        client->authenticate(memberText(authentication, "hostId"), memberText(authentication, "apiKey"));
    if (login != CredentialResponseError::Success) {
        throwLoginFailure(login);  // the client has logged the cause
    }

    Credentials credentials;
    for (const auto& id : secretIds) {
        auto response = client->getCredential(id);
        if (response.error != CredentialResponseError::Success) {
            VX_LOG_ERROR(logger(), "Failed to get credential [" << id << "]: " << response.message);
            throwReadFailure(response.error, id);
        }
        // A repeated id is still read, but the first value stays.
        credentials.try_emplace(id, response.value);
    }
    return credentials;
}

}  // namespace vx::rc::vault_accessor::service
