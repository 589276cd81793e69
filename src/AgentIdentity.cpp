#include "AgentIdentity.h"

#include <json/json.h>

#include <fstream>

#include "vx/util/Logging.h"

namespace vx::rc::vault_accessor {
namespace {

VX_DEFINE_LOGGER(mainLogger, "vx.vault.main")

}  // namespace

std::string readAgentId(const std::string& identityFile) {
    std::ifstream file(identityFile);
    if (!file.is_open()) {
        return kUnknownAgentId;
    }
    try {
        Json::Value root;
        file >> root;  // throws on a syntax error
        // asInt64 rejects strings and out-of-range numbers; a missing member reads as 0.
        const Json::Value& constRoot = root;  // the const lookup never inserts
        return std::to_string(constRoot["agent_id"].asInt64());
    } catch (const Json::Exception& e) {
        VX_LOG_ERROR(mainLogger(), "Failed to read agent identity: " << e.what());
        return kUnknownAgentId;
    }
}

}  // namespace vx::rc::vault_accessor
