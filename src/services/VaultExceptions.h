#pragma once

#include <exception>
#include <string>

namespace vx::rc::vault_accessor::service {

// The vault failed in a way none of the other types covers.
class VaultServiceException : public std::exception {};

// A vault kind the service does not implement.
class VaultTypeNotSupportedException : public std::exception {};

// The vault has no such secret.
class VaultCredentialNotFoundException : public std::exception {
public:
    explicit VaultCredentialNotFoundException(std::string secretId) : secretId_(std::move(secretId)) {}
    const std::string& getSecretId() const noexcept { return secretId_; }

private:
    std::string secretId_;
};

// The login was refused, or a read found no token.
class VaultAuthenticationException : public std::exception {};

// The vault could not be reached.
class VaultInaccessibleException : public std::exception {};

}  // namespace vx::rc::vault_accessor::service
