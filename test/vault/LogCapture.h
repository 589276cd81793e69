#pragma once

#include <log4cxx/appenderskeleton.h>
#include <log4cxx/logger.h>
#include <log4cxx/spi/loggingevent.h>

#include <mutex>
#include <string>
#include <vector>

#include "vx/util/Logging.h"

namespace vx::test {

struct LogLine {
    std::string logger;
    std::string level;
    std::string message;
};

// Keeps every event that reaches the root logger while it is attached.
class CapturingAppender : public log4cxx::AppenderSkeleton {
public:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool& /*pool*/) override {
        std::lock_guard<std::mutex> lock(mutex_);
        lines_.push_back({event->getLoggerName(), event->getLevel()->toString(), event->getRenderedMessage()});
    }
    void close() override {}
    bool requiresLayout() const override { return false; }

    std::vector<LogLine> lines() const {
        std::lock_guard<std::mutex> lock(mutex_);
        return lines_;
    }

private:
    mutable std::mutex mutex_;
    std::vector<LogLine> lines_;
};

// Attaches a capturing appender to the root logger for the life of the object.
class LogCapture {
public:
    LogCapture() : appender_(std::make_shared<CapturingAppender>()) {
        vx::util::getLogger("vx.vault");  // marks log4cxx configured before the root is touched
        auto root = log4cxx::Logger::getRootLogger();
        root->setLevel(log4cxx::Level::getDebug());
        root->addAppender(appender_);
    }
    ~LogCapture() { log4cxx::Logger::getRootLogger()->removeAppender(appender_); }
    LogCapture(const LogCapture&) = delete;
    LogCapture& operator=(const LogCapture&) = delete;

    std::vector<LogLine> lines() const { return appender_->lines(); }

    // Every captured line as one text, for "must not contain" checks.
    std::string allText() const {
        std::string text;
        for (const auto& line : lines()) {
            text += line.logger + " " + line.level + " " + line.message + "\n";
        }
        return text;
    }

private:
    std::shared_ptr<CapturingAppender> appender_;
};

}  // namespace vx::test
