#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace vx::tools::uploader {

// One crash report as the crash handler describes it on the command line.
struct UploadRequest {
    // Form fields in command-line order: one per flag with a value, one per annotation.
    std::vector<std::pair<std::string, std::string>> fields;
    bool ipv6Allowed = false;
    std::string dumpPath;
    std::string uploadUrl;
    std::string logFilePath;
    std::string securityMode;
};

// Parses argv as written by the crash handler: flags joined to their values, then
// exactly four positionals. Returns nothing and sets error for a malformed command line.
std::optional<UploadRequest> parseCommandLine(int argc, const char* const* argv, std::string& error);

}  // namespace vx::tools::uploader
