#pragma once

#include <log4cxx/appender.h>
#include <log4cxx/logger.h>

// Appenders on the root logger, kept together with the silent placeholder: the placeholder
// hangs there only while the root logger has no other appender.
namespace vx::util::root_appenders {

// Adds the appender to the root logger and drops the placeholder.
void attach(const log4cxx::AppenderPtr& appender);

// Removes the appender from the root logger; the placeholder returns when none is left.
// An empty pointer does nothing.
void detach(const log4cxx::AppenderPtr& appender);

// Adds the placeholder to the given root logger when it has no appender.
void silenceWhileEmpty(const log4cxx::LoggerPtr& root);

// True when the appender is the placeholder (tests and listings skip it).
bool isPlaceholder(const log4cxx::AppenderPtr& appender);

}  // namespace vx::util::root_appenders
