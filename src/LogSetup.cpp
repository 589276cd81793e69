#include "LogSetup.h"

#include <fcntl.h>
#include <unistd.h>

#include <stdexcept>
#include <string>

#include "vx/util/LogManager.h"
#include "vx/util/Logging.h"

namespace vx::rc::vault_accessor {
namespace {

VX_DEFINE_LOGGER(mainLogger, "vx.vault.main")

void requireLogFile(int32_t fileCount, const std::string& directory, const std::string& fileName) {
    if (fileCount <= 0) {
        return;
    }
    const std::string path = directory + "/" + fileName;
    // Opened as the appender opens it: a writable directory in the file's place passes a
    // mere access check.
    const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CLOEXEC);
    if (fd < 0) {
        throw std::runtime_error("cannot open log file " + path);
    }
    ::close(fd);
}

}  // namespace

void setUpLogs(const Options& options) {
    namespace lm = vx::util::log_manager;
    const std::string& directory = options.logDirectory();
    // Sizes beyond the 32-bit byte count are clamped once here, so one line reports it.
    const auto size = lm::clampLogFileSizeMb(options.logFileSize());
    lm::addMainLogAppender(directory, kMainLogFileName, size.usedMb, options.moduleNumLogFiles(),
                           options.logLevel());
    requireLogFile(options.moduleNumLogFiles(), directory, kMainLogFileName);
    lm::addWarnLogAppender(directory, kWarnLogFileName, size.usedMb, options.moduleNumWarnLogFiles());
    requireLogFile(options.moduleNumWarnLogFiles(), directory, kWarnLogFileName);
    if (size.wasClamped) {
        VX_LOG_WARN(mainLogger(), "log-file-size " << options.logFileSize()
                                      << " MB is outside 1 to 2047 MB; using " << size.usedMb << " MB");
    }
}

}  // namespace vx::rc::vault_accessor
