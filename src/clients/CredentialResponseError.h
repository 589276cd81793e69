#pragma once

#include <cstdint>

namespace vx::rc::vault_accessor::clients {

// Outcome of one Conjur exchange.
enum class CredentialResponseError : int32_t {
    Success = 0,
    Failure = 1,
    NotAuthenticated = 2,
    Unauthorized = 3,
    NotFound = 4,
    Inaccessible = 5,
};

}  // namespace vx::rc::vault_accessor::clients
