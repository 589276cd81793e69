#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "http_server/IHttpResponse.h"
#include "services/Credentials.h"

namespace vx::rc::vault_accessor::handlers {

// The JSON answer of getCredentials, built once: {"data":{...}} for 200, otherwise
// {"error":{"message":...[,"secret_id":...]}}; compact, keys sorted, ending in a line feed.
class HttpResponse : public IHttpResponse {
public:
    HttpResponse(int32_t statusCode, const std::string& message, const std::string& secretId,
                 const service::Credentials& credentials);
    ~HttpResponse() override;

    int32_t getStatusCode() const override { return statusCode_; }
    const std::string& getBody() const override { return body_; }
    const std::vector<std::pair<std::string, std::string>>& getHeaders() const override { return headers_; }

private:
    int32_t statusCode_;
    std::string body_;
    std::vector<std::pair<std::string, std::string>> headers_;
};

}  // namespace vx::rc::vault_accessor::handlers
