#include "vx/util/SilentAppender.h"

namespace vx::util {

SilentAppender::SilentAppender() {
    setName(LOG4CXX_STR("SilentRootAppender"));
}

void SilentAppender::close() {}

bool SilentAppender::requiresLayout() const {
    return false;
}

void SilentAppender::append(const log4cxx::spi::LoggingEventPtr& /*event*/,
                            log4cxx::helpers::Pool& /*pool*/) {}

}  // namespace vx::util
