#include "OptionsTable.h"

namespace po = boost::program_options;

namespace vx::rc::vault_accessor {

po::options_description describeOptions(const std::string& defaultConfigFile) {
    po::options_description options(kHelpLineLength, kHelpMinDescriptionLength);
    // The order here is the order of the help table.
    options.add_options()
        ("config-file,C", po::value<std::string>()->default_value(defaultConfigFile),
         "config file location")
        (option::kPrefixDir, po::value<std::string>()->default_value(kDefaultPrefixDir),
         "base prefix for all files")
        ("log-path,L", po::value<std::string>()->default_value(kDefaultLogPath),
         "path to log files")
        (option::kLogFileSize, po::value<int32_t>()->default_value(kDefaultLogFileSizeMb),
         "size of each log file (in MB)")
        (option::kLogLevel, po::value<std::string>()->default_value(kDefaultLogLevel),
         "log level (DEBUG|TRACE)")
        (option::kModuleNumLogFiles, po::value<int32_t>()->default_value(kDefaultNumLogFiles),
         "number of log files to keep")
        (option::kModuleNumWarnLogFiles,
         po::value<int32_t>()->default_value(kDefaultNumWarnLogFiles),
         "number of warn log files to keep")
        (option::kAgentProxyUrl, po::value<std::string>()->default_value(kDefaultAgentProxyUrl),
         "URL of the agent proxy")
        (option::kSecurityMode, po::value<std::string>()->default_value(kDefaultSecurityMode),
         "security mode (DEFAULT|FIPS|FEDRAMP)")
        (option::kCrashReports, po::value<bool>()->default_value(kDefaultCrashReports),
         "enable crash reports")
        (option::kServicesAllowIpv6, po::value<bool>()->default_value(kDefaultServicesAllowIpv6),
         "allow using IPv6 for hostname resolution of Varnex services")
        ("help,h", "print this help");
    return options;
}

void writeHelp(std::ostream& out, const std::string& programName,
               const po::options_description& options) {
    // Line 4 names the built-in file even when another one was given: it documents the default.
    out << kProgramTitle << '\n'
        << "Usage: \n"
        << "    " << programName << " [options]\n"
        << "Default config file: " << kDefaultConfigFile << '\n'
        << "Options:\n"
        << options;
}

}  // namespace vx::rc::vault_accessor
