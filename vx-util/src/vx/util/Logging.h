#pragma once

#include <log4cxx/logger.h>

// Every log call carries its source location through log4cxx's own macros.
#define VX_LOG_DEBUG(logger, message) LOG4CXX_DEBUG(logger, message)
#define VX_LOG_INFO(logger, message) LOG4CXX_INFO(logger, message)
#define VX_LOG_WARN(logger, message) LOG4CXX_WARN(logger, message)
#define VX_LOG_ERROR(logger, message) LOG4CXX_ERROR(logger, message)
#define VX_LOG_FATAL(logger, message) LOG4CXX_FATAL(logger, message)

namespace vx::util {

// The named logger. log4cxx is marked configured before the first logger exists, so its
// configuration comes only from the log manager, never from a stray log4cxx.xml,
// log4cxx.properties or LOG4CXX_CONFIGURATION, and an unconfigured process stays quiet.
log4cxx::LoggerPtr getLogger(const char* name);

// The root logger, through the same first step as getLogger.
log4cxx::LoggerPtr getRootLogger();

}  // namespace vx::util

// Defines `static log4cxx::LoggerPtr functionName()` returning the named logger, created
// once on first use (thread-safe function-local static).
#define VX_DEFINE_LOGGER(functionName, loggerName)                              \
    static const log4cxx::LoggerPtr& functionName() {                           \
        static const log4cxx::LoggerPtr logger = ::vx::util::getLogger(loggerName); \
        return logger;                                                          \
    }
