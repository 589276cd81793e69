#pragma once

#include <string>

namespace vx::util {

// Settings from which the crash handler and the upload tool's command line are built.
struct ExceptionManagerConfig {
    bool crashReportsEnabled = false;  // the Breakpad filter's answer for fatal signals
    bool ipv6Allowed = false;          // adds "-6"
    std::string programId;             // sent as "-p" + value
    std::string productId;             // sent as "-k" + value
    std::string version;               // sent as "-v" + value
    std::string buildId;               // sent as "-b" + value (may be empty)
    std::string sourceRevision;        // annotation "git"
    std::string uploadUrl;             // positional argument
    std::string logFilePath;           // positional argument
    std::string securityMode;          // positional argument
    std::string uploaderName;          // the tool's file name and its argument 0
};

}  // namespace vx::util
