#pragma once

#include <stdexcept>

namespace vx::util::log_manager {

// A log manager operation that was refused; carries only its message.
class LogManagerException : public std::runtime_error {
public:
    using std::runtime_error::runtime_error;
    ~LogManagerException() override;
};

}  // namespace vx::util::log_manager
