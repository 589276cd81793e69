#pragma once

#include <cstdint>
#include <exception>
#include <string>

namespace vx::rc {

// Thrown from execute to have the server answer with a bare status and the message as body.
class ServerException : public std::exception {
public:
    explicit ServerException(int32_t statusCode);
    ServerException(int32_t statusCode, const std::string& message);
    ~ServerException() override;

    const char* what() const noexcept override;
    int32_t getStatusCode() const noexcept { return statusCode_; }

private:
    int32_t statusCode_;
    std::string message_;
};

}  // namespace vx::rc
