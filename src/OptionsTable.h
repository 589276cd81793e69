#pragma once

#include <cstdint>
#include <ostream>
#include <string>

#include <boost/program_options/options_description.hpp>

namespace vx::rc::vault_accessor {

// Option names as they appear on the command line, in the configuration file and in the map.
namespace option {
inline constexpr const char* kConfigFile = "config-file";
inline constexpr const char* kPrefixDir = "prefix-dir";
inline constexpr const char* kLogPath = "log-path";
inline constexpr const char* kLogFileSize = "log-file-size";
inline constexpr const char* kLogLevel = "log-level";
inline constexpr const char* kModuleNumLogFiles = "module-num-log-files";
inline constexpr const char* kModuleNumWarnLogFiles = "module-num-warn-log-files";
inline constexpr const char* kAgentProxyUrl = "agent-proxy-url";
inline constexpr const char* kSecurityMode = "security-mode";
inline constexpr const char* kCrashReports = "crash-reports";
inline constexpr const char* kServicesAllowIpv6 = "services-allow-ipv6";
inline constexpr const char* kHelp = "help";
}  // namespace option

// The agent's own configuration file, shared with vx-agent.
inline constexpr const char* kDefaultConfigFile = "/etc/vx-agent.cfg";
inline constexpr const char* kDefaultPrefixDir = "/";
inline constexpr const char* kDefaultLogPath = "/var/log";
inline constexpr int32_t kDefaultLogFileSizeMb = 10;
inline constexpr const char* kDefaultLogLevel = "DEBUG";
inline constexpr int32_t kDefaultNumLogFiles = 3;
inline constexpr int32_t kDefaultNumWarnLogFiles = 2;
// The agent's local proxy, which forwards crash reports.
inline constexpr const char* kDefaultAgentProxyUrl = "http://127.0.0.1:8778";
inline constexpr const char* kDefaultSecurityMode = "DEFAULT";
inline constexpr bool kDefaultCrashReports = true;
inline constexpr bool kDefaultServicesAllowIpv6 = false;

// Layout of the help table.
inline constexpr unsigned kHelpLineLength = 80;
inline constexpr unsigned kHelpMinDescriptionLength = 40;

inline constexpr const char* kProgramTitle = "Varnex Vault Accessor";

// The service's options in help order, each with its default. `defaultConfigFile` is the
// default of "config-file"; only tests pass anything but kDefaultConfigFile.
boost::program_options::options_description describeOptions(const std::string& defaultConfigFile);

// Writes the help: title, usage, the built-in configuration file and the option table.
void writeHelp(std::ostream& out, const std::string& programName,
               const boost::program_options::options_description& options);

}  // namespace vx::rc::vault_accessor
