#include "vx/util/LogManager.h"

#include "vx/util/Logging.h"
#include "vx/util/RootAppenders.h"

#include <log4cxx/file.h>
#include <log4cxx/helpers/pool.h>
#include <log4cxx/helpers/threadspecificdata.h>
#include <log4cxx/helpers/transcoder.h>
#include <log4cxx/level.h>
#include <log4cxx/patternlayout.h>
#include <log4cxx/propertyconfigurator.h>
#include <log4cxx/rolling/fixedwindowrollingpolicy.h>
#include <log4cxx/rolling/sizebasedtriggeringpolicy.h>
#include <log4cxx/xml/domconfigurator.h>

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <iostream>
#include <memory>

namespace vx::util::log_manager {
namespace {

VX_DEFINE_LOGGER(logger, "vx.util.logmanager")

log4cxx::LogString toLogString(const std::string& text) {
    LOG4CXX_DECODE_CHAR(decoded, text);
    return decoded;
}

std::string fromLogString(const log4cxx::LogString& text) {
    LOG4CXX_ENCODE_CHAR(encoded, text);
    return encoded;
}

bool endsWith(const std::string& text, const std::string& suffix) {
    return text.size() >= suffix.size() &&
           text.compare(text.size() - suffix.size(), suffix.size(), suffix) == 0;
}

log4cxx::LayoutPtr patternLayout(const char* pattern) {
    return std::make_shared<log4cxx::PatternLayout>(toLogString(pattern));
}

// One WARN line per appender whose size was clamped; it names the appender's own file, so the
// main and the warning log each report their own size even when both were given the same one.
void warnIfClamped(const std::string& fileName, std::int32_t givenMb,
                   const ClampedLogFileSize& size) {
    if (size.wasClamped) {
        VX_LOG_WARN(logger(), "Log file size " << givenMb << " MB for " << fileName
                                               << " is outside " << kMinLogFileSizeMb << " to "
                                               << kMaxLogFileSizeMb << " MB; using "
                                               << size.usedMb << " MB");
    }
}

AppenderPtr createStandardRollingAppender(const std::string& logDirectory,
                                          const std::string& fileName, std::int32_t sizeMb,
                                          std::int32_t fileCount, const char* appenderName) {
    return createRollingFileAppender(logDirectory, fileName, fileName + ".%i",
                                     logFileSizeBytes(sizeMb), fileCount - 1,
                                     patternLayout(kMainLayout), appenderName);
}

log4cxx::rolling::FixedWindowRollingPolicyPtr fixedWindowPolicy(const AppenderPtr& appender) {
    if (!appender) {
        return nullptr;
    }
    return log4cxx::cast<log4cxx::rolling::FixedWindowRollingPolicy>(appender->getRollingPolicy());
}

}  // namespace

ClampedLogFileSize clampLogFileSizeMb(std::int32_t sizeMb) {
    if (sizeMb < kMinLogFileSizeMb) {
        return {kMinLogFileSizeMb, true};
    }
    if (sizeMb > kMaxLogFileSizeMb) {
        return {kMaxLogFileSizeMb, true};
    }
    return {sizeMb, false};
}

std::int32_t logFileSizeBytes(std::int32_t sizeMb) {
    // MB shifted left by 20 bits in 32 bits; done unsigned so that a value outside the
    // supported range wraps instead of being undefined.
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(sizeMb) << 20U);
}

AppenderPtr createRollingFileAppender(const std::string& logDirectory, const std::string& fileName,
                                      const std::string& fileNamePattern, std::int32_t maxFileSize,
                                      std::int32_t maxIndex, const log4cxx::LayoutPtr& layout,
                                      const std::string& appenderName) {
    getRootLogger();  // the repository is marked configured before log4cxx is used

    auto trigger = std::make_shared<log4cxx::rolling::SizeBasedTriggeringPolicy>();
    trigger->setMaxFileSize(static_cast<std::size_t>(static_cast<std::int64_t>(maxFileSize)));

    auto window = std::make_shared<log4cxx::rolling::FixedWindowRollingPolicy>();
    window->setFileNamePattern(toLogString(logDirectory + "/" + fileNamePattern));
    window->setMinIndex(1);
    window->setMaxIndex(maxIndex);

    auto appender = std::make_shared<log4cxx::rolling::RollingFileAppender>();
    appender->setName(toLogString(appenderName));
    appender->setFile(toLogString(logDirectory + "/" + fileName));
    appender->setLayout(layout);
    appender->setRollingPolicy(window);
    appender->setTriggeringPolicy(trigger);

    log4cxx::helpers::Pool pool;
    appender->activateOptions(pool);
    return appender;
}

AppenderPtr addMainLogAppender(const std::string& logDirectory, const std::string& fileName,
                               std::int32_t fileSizeMb, std::int32_t fileCount,
                               const std::string& levelName) {
    if (fileCount <= 0) {
        return nullptr;
    }
    const ClampedLogFileSize size = clampLogFileSizeMb(fileSizeMb);
    AppenderPtr appender = createStandardRollingAppender(logDirectory, fileName, size.usedMb,
                                                         fileCount, kMainLogAppenderName);
    getRootLogger()->setLevel(log4cxx::Level::toLevel(levelName, log4cxx::Level::getDebug()));
    root_appenders::attach(appender);
    warnIfClamped(fileName, fileSizeMb, size);
    return appender;
}

AppenderPtr addWarnLogAppender(const std::string& logDirectory, const std::string& fileName,
                               std::int32_t fileSizeMb, std::int32_t fileCount) {
    if (fileCount <= 0) {
        return nullptr;
    }
    const ClampedLogFileSize size = clampLogFileSizeMb(fileSizeMb);
    AppenderPtr appender = createStandardRollingAppender(logDirectory, fileName, size.usedMb,
                                                         fileCount, kWarnLogAppenderName);
    appender->setThreshold(log4cxx::Level::getWarn());
    root_appenders::attach(appender);
    warnIfClamped(fileName, fileSizeMb, size);
    return appender;
}

AppenderPtr addSanityChecksAppender(const log4cxx::LoggerPtr& logger,
                                    const std::string& logDirectory, const std::string& fileName) {
    AppenderPtr appender = createRollingFileAppender(
        logDirectory, fileName, fileName + ".%i", kSanityChecksMaxFileSize, kSanityChecksMaxIndex,
        patternLayout(kSanityLayout), kSanityChecksAppenderName);
    logger->setLevel(log4cxx::Level::getDebug());
    logger->addAppender(appender);
    return appender;
}

AppenderPtr changeLogFileCount(const std::string& appenderName, std::int32_t delta) {
    if (delta == 0) {
        throw LogManagerException("No change in log files");
    }
    const auto appender = log4cxx::cast<log4cxx::rolling::RollingFileAppender>(
        getRootLogger()->getAppender(toLogString(appenderName)));
    const auto policy = fixedWindowPolicy(appender);
    if (!policy) {
        throw LogManagerException("Failed to get fixed window policy for: " + appenderName);
    }
    // Widened so that a delta near the int limits cannot wrap into a valid count.
    const std::int64_t maxIndex = static_cast<std::int64_t>(policy->getMaxIndex()) + delta;
    if (maxIndex < 1) {
        throw LogManagerException("The final file count must be positive");
    }
    policy->setMaxIndex(static_cast<int>(std::min<std::int64_t>(maxIndex, std::int64_t{INT32_MAX})));
    log4cxx::helpers::Pool pool;
    policy->activateOptions(pool);
    return appender;
}

AppenderPtr changeMainLogFileCount(std::int32_t delta) {
    return changeLogFileCount(kMainLogAppenderName, delta);
}

AppenderPtr changeWarnLogFileCount(std::int32_t delta) {
    return changeLogFileCount(kWarnLogAppenderName, delta);
}

void configureFromFile(const std::string& configFileName) {
    getRootLogger();
    if (configFileName.size() > 5 && endsWith(configFileName, ".xml")) {
        log4cxx::xml::DOMConfigurator::configure(configFileName);
        return;
    }
    if (configFileName.size() > 12 && endsWith(configFileName, ".properties")) {
        log4cxx::PropertyConfigurator::configure(log4cxx::File(configFileName));
        return;
    }
    std::cerr << "logging-config filename must end with .xml or .properties" << std::endl;
    throw LogManagerException("Invalid logging-config filename");
}

void removeRootAppender(const log4cxx::AppenderPtr& appender) {
    root_appenders::detach(appender);
}

log4cxx::FileAppenderPtr addInfoFileAppender(const log4cxx::LoggerPtr& logger,
                                             const std::string& fileName) {
    getRootLogger();
    auto appender = std::make_shared<log4cxx::FileAppender>(patternLayout(kBareLayout),
                                                            toLogString(fileName), true);
    appender->setThreshold(log4cxx::Level::getInfo());
    logger->addAppender(appender);
    return appender;
}

log4cxx::FileAppenderPtr addErrorFileAppender(const std::string& fileName) {
    getRootLogger();
    auto appender = std::make_shared<log4cxx::FileAppender>(patternLayout(kBareLayout),
                                                            toLogString(fileName), true);
    appender->setThreshold(log4cxx::Level::getError());
    root_appenders::attach(appender);
    return appender;
}

log4cxx::ConsoleAppenderPtr addConsoleAppender() {
    getRootLogger();
    auto appender = std::make_shared<log4cxx::ConsoleAppender>(
        patternLayout(kConsoleLayout), log4cxx::ConsoleAppender::getSystemErr());
    appender->setThreshold(log4cxx::Level::getDebug());
    root_appenders::attach(appender);
    return appender;
}

Mdc currentMdc() {
    Mdc copy;
    log4cxx::helpers::ThreadSpecificData* data =
        log4cxx::helpers::ThreadSpecificData::getCurrentData();
    if (data == nullptr) {
        return copy;
    }
    for (const auto& [key, value] : data->getMap()) {
        copy.emplace(fromLogString(key), fromLogString(value));
    }
    return copy;
}

}  // namespace vx::util::log_manager
