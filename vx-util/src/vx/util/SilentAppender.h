#pragma once

#include <log4cxx/appenderskeleton.h>

namespace vx::util {

// An appender that drops every event. Hung on the root logger while it has no real
// appender, it counts as a destination, so log4cxx does not print its
// "No appender could be found" advice on stderr in a process without logs.
class SilentAppender : public log4cxx::AppenderSkeleton {
public:
    SilentAppender();

    void close() override;
    bool requiresLayout() const override;

protected:
    void append(const log4cxx::spi::LoggingEventPtr& event, log4cxx::helpers::Pool& pool) override;
};

}  // namespace vx::util
