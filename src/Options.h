#pragma once

#include <cstdint>
#include <string>

#include <boost/program_options/variables_map.hpp>

namespace vx::rc::vault_accessor {

// The service's parsed options: the option map, typed access to each value and the values
// derived from them. Every option but "help" has a value, from a source or its default.
class Options {
public:
    explicit Options(boost::program_options::variables_map values);

    const boost::program_options::variables_map& values() const { return values_; }

    std::string configFile() const;
    std::string prefixDir() const;
    std::string logPath() const;
    int32_t logFileSize() const;
    std::string logLevel() const;
    int32_t moduleNumLogFiles() const;
    int32_t moduleNumWarnLogFiles() const;
    std::string agentProxyUrl() const;
    std::string securityMode() const;
    bool crashReports() const;
    bool servicesAllowIpv6() const;

    // "log-path" when set by a source; otherwise "prefix-dir" and the default path joined as
    // text, so the defaults give "//var/log".
    const std::string& logDirectory() const { return logDirectory_; }
    // The main log inside the log directory, named to the crash uploader.
    const std::string& mainLogFilePath() const { return mainLogFilePath_; }
    // Where the crash uploader sends reports: the agent proxy's crash path.
    const std::string& crashUploadUrl() const { return crashUploadUrl_; }

private:
    boost::program_options::variables_map values_;
    std::string logDirectory_;
    std::string mainLogFilePath_;
    std::string crashUploadUrl_;
};

}  // namespace vx::rc::vault_accessor
