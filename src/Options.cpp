#include "Options.h"

#include <utility>

#include "OptionsTable.h"

namespace vx::rc::vault_accessor {

namespace {

constexpr const char* kMainLogFileName = "vx-vault-accessor.log";
constexpr const char* kCrashUploadPath = "/crashes";

std::string deriveLogDirectory(const boost::program_options::variables_map& values) {
    const auto& logPath = values[option::kLogPath];
    if (!logPath.defaulted()) {
        return logPath.as<std::string>();
    }
    // Joined as plain text, nothing added or removed: the defaults give "//var/log".
    return values[option::kPrefixDir].as<std::string>() + logPath.as<std::string>();
}

}  // namespace

Options::Options(boost::program_options::variables_map values)
    : values_(std::move(values)),
      logDirectory_(deriveLogDirectory(values_)),
      mainLogFilePath_(logDirectory_ + "/" + kMainLogFileName),
      crashUploadUrl_(agentProxyUrl() + kCrashUploadPath) {}

std::string Options::configFile() const { return values_[option::kConfigFile].as<std::string>(); }

std::string Options::prefixDir() const { return values_[option::kPrefixDir].as<std::string>(); }

std::string Options::logPath() const { return values_[option::kLogPath].as<std::string>(); }

int32_t Options::logFileSize() const { return values_[option::kLogFileSize].as<int32_t>(); }

std::string Options::logLevel() const { return values_[option::kLogLevel].as<std::string>(); }

int32_t Options::moduleNumLogFiles() const {
    return values_[option::kModuleNumLogFiles].as<int32_t>();
}

int32_t Options::moduleNumWarnLogFiles() const {
    return values_[option::kModuleNumWarnLogFiles].as<int32_t>();
}

std::string Options::agentProxyUrl() const {
    return values_[option::kAgentProxyUrl].as<std::string>();
}

std::string Options::securityMode() const {
    return values_[option::kSecurityMode].as<std::string>();
}

bool Options::crashReports() const { return values_[option::kCrashReports].as<bool>(); }

bool Options::servicesAllowIpv6() const {
    return values_[option::kServicesAllowIpv6].as<bool>();
}

}  // namespace vx::rc::vault_accessor
