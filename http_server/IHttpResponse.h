#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

namespace vx::rc {

// What a handler hands back through its response callback.
class IHttpResponse {
public:
    virtual ~IHttpResponse() = default;
    virtual int32_t getStatusCode() const = 0;
    virtual const std::string& getBody() const = 0;
    // Header fields to send, in this order.
    virtual const std::vector<std::pair<std::string, std::string>>& getHeaders() const = 0;
};

}  // namespace vx::rc
