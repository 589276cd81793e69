#pragma once

#include <cstdint>

namespace vx::rc::vault_accessor::service {

// The kinds of vault the service can read from.
enum class VaultType : int32_t {
    Conjur = 0,
};

}  // namespace vx::rc::vault_accessor::service
