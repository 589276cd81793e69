#include "vx/util/LogManagerException.h"

namespace vx::util::log_manager {

LogManagerException::~LogManagerException() = default;

}  // namespace vx::util::log_manager
