#include "vx/util/ExceptionManager.h"

#include <sys/stat.h>

#include "client/linux/handler/exception_handler.h"
#include "client/linux/handler/minidump_descriptor.h"
#include "vx/util/LogManager.h"

namespace vx::util {

namespace {

constexpr const char* kDumpDirectory = "/tmp/";
constexpr const char* kUploaderDirectories[] = {"/usr/local/bin", "/usr/bin"};

}  // namespace

ExceptionManager::ExceptionManager(const ExceptionManagerConfig& config)
    : descriptor_(std::make_unique<google_breakpad::MinidumpDescriptor>(kDumpDirectory)) {
    command_.crashReportsEnabled = config.crashReportsEnabled;
    command_.uploaderPath = findUploaderPath(config.uploaderName);
    command_.uploadUrl = config.uploadUrl;
    command_.logFilePath = config.logFilePath;
    command_.securityMode = config.securityMode;

#ifndef VX_NO_CRASH_HANDLER
    // Server descriptor -1: the dump is written in-process, without a crash server.
    handler_ = std::make_unique<google_breakpad::ExceptionHandler>(
        *descriptor_, &ExceptionManager::filterCallback, &ExceptionManager::dumpCallback, &command_,
        true, -1);
#endif

    ArgumentVector& arguments = command_.arguments;
    arguments.append(config.uploaderName.c_str());
    arguments.appendJoined("-p", config.programId.c_str());
    arguments.appendJoined("-k", config.productId.c_str());
    arguments.appendJoined("-v", config.version.c_str());
    arguments.appendJoined("-b", config.buildId.c_str());
    arguments.appendAnnotation("git", config.sourceRevision.c_str());
    if (config.ipv6Allowed) {
        arguments.append("-6");
    }
    arguments.markBase();
}

// The handler goes first: it removes its signal handlers before the command disappears.
ExceptionManager::~ExceptionManager() {
    handler_.reset();
}

void ExceptionManager::addArgument(const std::string& argument) {
    command_.arguments.append(argument.c_str());
}

void ExceptionManager::addAnnotation(const std::string& key, const std::string& value) {
    command_.arguments.appendAnnotation(key.c_str(), value.c_str());
}

void ExceptionManager::setAgentId(const std::string& agentId) {
    command_.agentId = agentId;
}

void ExceptionManager::writeMinidump() {
    if (handler_) {
        handler_->WriteMinidump();
    }
}

void ExceptionManager::setUploadUrl(const std::string& uploadUrl) {
    if (!uploadUrl.empty()) {
        command_.uploadUrl = uploadUrl;
    }
}

void ExceptionManager::setOptionalArguments(const std::string& x, const std::string& u,
                                            const std::string& p, const std::string& t) {
    command_.optionX = x;
    command_.optionU = u;
    command_.optionP = p;
    command_.optionT = t;
}

void ExceptionManager::annotateAbort(const log4cxx::LoggerPtr& logger, const std::string& message,
                                     const std::unordered_map<std::string, std::string>& extras) {
    std::string loggerName;
    if (logger) {
        logger->getName(loggerName);
    }
    addAnnotation("sentry[logger]", loggerName);
    addAnnotation("sentry[message][formatted]", message);
    addAnnotation("sentry[tags][cause]", "VX_ABORT");
    for (const auto& [key, value] : log_manager::currentMdc()) {
        addAnnotation("sentry[tags][" + key + "]", value);
    }
    for (const auto& [key, value] : extras) {
        addAnnotation(key, value);
    }
}

std::string ExceptionManager::findUploaderPath(const std::string& uploaderName) {
    for (const char* directory : kUploaderDirectories) {
        std::string candidate = std::string(directory) + "/" + uploaderName;
        struct stat status {};
        if (stat(candidate.c_str(), &status) == 0) {
            return candidate;
        }
    }
    return uploaderName;
}

bool ExceptionManager::filterCallback(void* context) {
    return static_cast<const UploaderCommand*>(context)->crashReportsEnabled;
}

bool ExceptionManager::dumpCallback(const google_breakpad::MinidumpDescriptor& descriptor,
                                    void* context, bool succeeded) {
    // The tool runs even when the dump failed; Breakpad gets its own verdict back.
    static_cast<UploaderCommand*>(context)->runUploader(descriptor.path());
    return succeeded;
}

}  // namespace vx::util
