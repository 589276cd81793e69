#include "http_server/ServerException.h"

namespace vx::rc {

ServerException::ServerException(int32_t statusCode) : statusCode_(statusCode) {}

ServerException::ServerException(int32_t statusCode, const std::string& message)
    : statusCode_(statusCode), message_(message) {}

ServerException::~ServerException() = default;

const char* ServerException::what() const noexcept { return message_.c_str(); }

}  // namespace vx::rc
