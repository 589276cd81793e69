#include "vx/util/Logging.h"

#include <log4cxx/logmanager.h>
#include <log4cxx/spi/loggerrepository.h>

#include <mutex>

namespace vx::util {

log4cxx::LoggerPtr getLogger(const char* name) {
    static std::once_flag configured;
    std::call_once(configured, [] {
        log4cxx::LogManager::getLoggerRepository()->setConfigured(true);
    });
    return log4cxx::Logger::getLogger(name);
}

}  // namespace vx::util
