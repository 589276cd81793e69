#pragma once

#include <regex>
#include <string>
#include <utility>
#include <vector>

namespace vx::rc {

// A request as a handler sees it; valid only during HttpServerMethod::execute.
class IHttpRequest {
public:
    virtual ~IHttpRequest() = default;
    virtual const std::string& getMethod() const = 0;
    // A fresh copy of the whole body on every call.
    virtual std::string getBody() const = 0;
    virtual const std::smatch& getPathMatch() const = 0;
    virtual const std::vector<std::pair<std::string, std::string>>& getHeaders() const = 0;
    // The target's text after "?", not percent-decoded.
    virtual const std::string& getQueryString() const = 0;
};

}  // namespace vx::rc
