#include "vx/util/Logging.h"

#include "vx/util/RootAppenders.h"

#include <log4cxx/logmanager.h>
#include <log4cxx/spi/loggerrepository.h>

#include <mutex>

namespace vx::util {
namespace {

// Runs once, before log4cxx hands out its first logger: a repository that is already
// marked configured never runs log4cxx's default configuration (working-directory files,
// LOG4CXX_CONFIGURATION). The silent root appender keeps log4cxx from warning about a
// missing appender on stderr while the process has not set up its logs.
void prepareRepository() {
    static std::once_flag prepared;
    std::call_once(prepared, [] {
        log4cxx::LogManager::getLoggerRepository()->setConfigured(true);
        root_appenders::silenceWhileEmpty(log4cxx::LogManager::getRootLogger());
    });
}

}  // namespace

log4cxx::LoggerPtr getLogger(const char* name) {
    prepareRepository();
    return log4cxx::Logger::getLogger(name);
}

log4cxx::LoggerPtr getRootLogger() {
    prepareRepository();
    return log4cxx::Logger::getRootLogger();
}

}  // namespace vx::util
