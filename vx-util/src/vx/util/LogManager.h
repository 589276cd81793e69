#pragma once

#include "vx/util/LogManagerException.h"

#include <log4cxx/appender.h>
#include <log4cxx/consoleappender.h>
#include <log4cxx/fileappender.h>
#include <log4cxx/layout.h>
#include <log4cxx/logger.h>
#include <log4cxx/rolling/rollingfileappender.h>

#include <cstdint>
#include <map>
#include <string>

// Builds the process's log files on log4cxx. Every operation goes through the same first
// step as vx::util::getLogger, so log4cxx never configures itself from elsewhere.
namespace vx::util::log_manager {

// Appender names, used to find an appender again on its logger.
inline constexpr char kMainLogAppenderName[] = "MainLogAppender";
inline constexpr char kWarnLogAppenderName[] = "WarnLogAppender";
inline constexpr char kSanityChecksAppenderName[] = "SanityChecksAppender";

// Conversion patterns of the layouts.
inline constexpr char kMainLayout[] = "%d{yyyy-MM-dd HH:mm:ss.SSS}{GMT} %-5p [%.8t] [%c{4}] %X %m%n";
inline constexpr char kSanityLayout[] = "%d{yyyy-MM-dd HH:mm:ss.SSS}{GMT} %-5p [%t] [%c{4} %X] - %m%n";
inline constexpr char kConsoleLayout[] = "%d{yyyy-MM-dd HH:mm:ss.SSS}{GMT} %-5p %m%n";
inline constexpr char kBareLayout[] = "%m%n";

// The sanity-checks log rolls at 50 KB and keeps two rolled files.
inline constexpr std::int32_t kSanityChecksMaxFileSize = 51200;
inline constexpr std::int32_t kSanityChecksMaxIndex = 2;

// Sizes in MB that fit the 32-bit byte count of the size trigger.
inline constexpr std::int32_t kMinLogFileSizeMb = 1;
inline constexpr std::int32_t kMaxLogFileSizeMb = 2047;

struct ClampedLogFileSize {
    std::int32_t usedMb;
    bool wasClamped;
};

// Brings a size in MB into kMinLogFileSizeMb..kMaxLogFileSizeMb; outside it the 32-bit
// byte count would be zero, negative or overflow.
ClampedLogFileSize clampLogFileSizeMb(std::int32_t sizeMb);

// Size in bytes of a size in MB within the supported range, as a 32-bit product.
std::int32_t logFileSizeBytes(std::int32_t sizeMb);

using AppenderPtr = log4cxx::rolling::RollingFileAppenderPtr;
using Mdc = std::map<std::string, std::string>;

// A rolling file appender on logDirectory/fileName rolled into logDirectory/fileNamePattern
// (window 1..maxIndex) once the file holds maxFileSize bytes; the size is widened with its
// sign. The appender is activated (the file is opened for appending) but attached to no logger.
AppenderPtr createRollingFileAppender(const std::string& logDirectory, const std::string& fileName,
                                      const std::string& fileNamePattern, std::int32_t maxFileSize,
                                      std::int32_t maxIndex, const log4cxx::LayoutPtr& layout,
                                      const std::string& appenderName);

// The main log on the root logger, keeping fileCount files in all; sets the root level from
// levelName (DEBUG when log4cxx does not know the name). A file count of 0 or less makes
// nothing and changes nothing; the result is then empty. A size outside the supported range
// is clamped and one WARN line names the given and the used size.
AppenderPtr addMainLogAppender(const std::string& logDirectory, const std::string& fileName,
                               std::int32_t fileSizeMb, std::int32_t fileCount,
                               const std::string& levelName);

// The warning log on the root logger: WARN and above only; the root level is left alone.
// Sizes and counts as for addMainLogAppender.
AppenderPtr addWarnLogAppender(const std::string& logDirectory, const std::string& fileName,
                               std::int32_t fileSizeMb, std::int32_t fileCount);

// A small rolling log on the given logger (not on the root logger); sets that logger to
// DEBUG and leaves its additivity as it is.
AppenderPtr addSanityChecksAppender(const log4cxx::LoggerPtr& logger,
                                    const std::string& logDirectory, const std::string& fileName);

// Moves the rolling window of the named root appender by delta files.
// Throws LogManagerException for delta 0, an unknown or non fixed-window appender, or a
// resulting window below 1 (then nothing changes).
AppenderPtr changeLogFileCount(const std::string& appenderName, std::int32_t delta);
AppenderPtr changeMainLogFileCount(std::int32_t delta);
AppenderPtr changeWarnLogFileCount(std::int32_t delta);

// Configures log4cxx from a ".xml" or ".properties" file; throws LogManagerException for
// any other name.
void configureFromFile(const std::string& configFileName);

// Removes the appender from the root logger; an empty pointer does nothing.
void removeRootAppender(const log4cxx::AppenderPtr& appender);

// Plain appending file logs with the bare layout: INFO and above on the given logger,
// ERROR and above on the root logger.
log4cxx::FileAppenderPtr addInfoFileAppender(const log4cxx::LoggerPtr& logger,
                                             const std::string& fileName);
log4cxx::FileAppenderPtr addErrorFileAppender(const std::string& fileName);

// Standard error with the console layout, DEBUG and above, on the root logger.
log4cxx::ConsoleAppenderPtr addConsoleAppender();

// A copy of the calling thread's mapped diagnostic context.
Mdc currentMdc();

}  // namespace vx::util::log_manager
