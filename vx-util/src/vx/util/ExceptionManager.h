#pragma once

#include <log4cxx/logger.h>

#include <memory>
#include <string>
#include <unordered_map>

#include "vx/util/ExceptionManagerConfig.h"
#include "vx/util/UploaderCommand.h"

namespace google_breakpad {
class ExceptionHandler;
class MinidumpDescriptor;
}  // namespace google_breakpad

namespace vx::util {

// Turns a crash into a crash report: Breakpad writes a minidump into "/tmp/" and the
// callback hands it to the upload tool, waits for it and logs how it ended.
//
// Builds with VX_NO_CRASH_HANDLER defined (sanitizer builds, where the sanitizers own the
// fatal signals) install no Breakpad handler: crashes are left to the sanitizer and
// writeMinidump() does nothing.
//
// Breakpad keeps a pointer to this object's command, so it never moves.
class ExceptionManager {
public:
    explicit ExceptionManager(const ExceptionManagerConfig& config);
    ~ExceptionManager();
    ExceptionManager(const ExceptionManager&) = delete;
    ExceptionManager& operator=(const ExceptionManager&) = delete;
    ExceptionManager(ExceptionManager&&) = delete;
    ExceptionManager& operator=(ExceptionManager&&) = delete;

    // Arguments added here go to the next dump only; callers must not add while a dump
    // is in progress.
    void addArgument(const std::string& argument);
    void addAnnotation(const std::string& key, const std::string& value);
    void setAgentId(const std::string& agentId);
    // Dumps the running process now and runs the upload tool, whatever the crash-reports
    // flag says.
    void writeMinidump();
    // Keeps the current URL when the new one is empty.
    void setUploadUrl(const std::string& uploadUrl);
    void setOptionalArguments(const std::string& x, const std::string& u, const std::string& p,
                              const std::string& t);
    // Annotations that describe an abort, in the bracketed field names of Sentry events.
    void annotateAbort(const log4cxx::LoggerPtr& logger, const std::string& message,
                       const std::unordered_map<std::string, std::string>& extras);

    // "/usr/local/bin/<name>" or "/usr/bin/<name>" when present, else the bare name.
    static std::string findUploaderPath(const std::string& uploaderName);
    static bool filterCallback(void* context);
    static bool dumpCallback(const google_breakpad::MinidumpDescriptor& descriptor, void* context,
                             bool succeeded);

private:
    std::unique_ptr<google_breakpad::MinidumpDescriptor> descriptor_;
    UploaderCommand command_;
    std::unique_ptr<google_breakpad::ExceptionHandler> handler_;
};

}  // namespace vx::util
