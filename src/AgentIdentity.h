#pragma once

#include <string>

namespace vx::rc::vault_accessor {

// The agent's identity file and the identifier used when it cannot be read.
inline constexpr const char* kAgentIdentityFile = "/var/lib/vx-agent/identity.json";
inline constexpr const char* kUnknownAgentId = "unknown";

// The "agent_id" member of the identity file as decimal text. An unopenable file gives
// "unknown" silently; JSON that does not yield a 64-bit integer gives "unknown" and one
// ERROR line.
std::string readAgentId(const std::string& identityFile);

}  // namespace vx::rc::vault_accessor
