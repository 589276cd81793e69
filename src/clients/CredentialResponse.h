#pragma once

#include <string>
#include <utility>

#include "clients/CredentialResponseError.h"
#include "clients/SecureBuffer.h"

namespace vx::rc::vault_accessor::clients {

// Result of one secret read: the value on success, otherwise an error code and a text.
struct CredentialResponse {
    CredentialResponse(CredentialResponseError errorCode, std::string errorMessage)
        : error(errorCode), message(std::move(errorMessage)) {}
    explicit CredentialResponse(SecureBuffer&& secret)
        : value(std::move(secret)), error(CredentialResponseError::Success) {}

    SecureBuffer value;
    CredentialResponseError error;
    std::string message;
};

}  // namespace vx::rc::vault_accessor::clients
