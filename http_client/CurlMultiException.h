#pragma once

#include <stdexcept>
#include <string>

namespace vx::shared::agents::measurements::http {

// Thrown only while a CurlMultiExecutor is being constructed.
class CurlMultiException : public std::runtime_error {
public:
    explicit CurlMultiException(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace vx::shared::agents::measurements::http
