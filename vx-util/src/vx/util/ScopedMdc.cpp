#include "vx/util/ScopedMdc.h"

#include "vx/util/LogManager.h"

#include <log4cxx/mdc.h>

#include <utility>

namespace vx::util::log_manager {

ScopedMdc::ScopedMdc(std::map<std::string, std::string> entries)
    : earlier_(currentMdc()), entries_(std::move(entries)) {
    for (const auto& [key, value] : entries_) {
        log4cxx::MDC::put(key, value);
    }
}

ScopedMdc::~ScopedMdc() {
    for (const auto& entry : entries_) {
        log4cxx::MDC::remove(entry.first);
    }
    for (const auto& [key, value] : earlier_) {
        log4cxx::MDC::put(key, value);
    }
}

}  // namespace vx::util::log_manager
