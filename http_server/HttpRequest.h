#pragma once

#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "http_server/IHttpRequest.h"

namespace vx::rc {

namespace core {
struct Request;
}

// A handler's view of one request of the server core.
class HttpRequest : public IHttpRequest {
public:
    explicit HttpRequest(std::shared_ptr<core::Request> request);

    const std::string& getMethod() const override;
    std::string getBody() const override;
    const std::smatch& getPathMatch() const override;
    const std::vector<std::pair<std::string, std::string>>& getHeaders() const override;
    const std::string& getQueryString() const override;

private:
    std::shared_ptr<core::Request> request_;
    std::vector<std::pair<std::string, std::string>> headers_;
};

}  // namespace vx::rc
