#pragma once

#include <string>
#include <unordered_map>

#include "clients/SecureBuffer.h"

namespace vx::rc::vault_accessor::service {

// Secret id to secret value; values are wiped when the map lets go of them.
using Credentials = std::unordered_map<std::string, clients::SecureBuffer>;

}  // namespace vx::rc::vault_accessor::service
