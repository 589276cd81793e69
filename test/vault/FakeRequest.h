#pragma once

#include <regex>
#include <string>
#include <utility>
#include <vector>

#include "http_server/IHttpRequest.h"

namespace vx::test {

// A request that has only a body.
class FakeRequest : public rc::IHttpRequest {
public:
    explicit FakeRequest(std::string body) : body_(std::move(body)) {}
    const std::string& getMethod() const override { return method_; }
    std::string getBody() const override { return body_; }
    const std::smatch& getPathMatch() const override { return match_; }
    const std::vector<std::pair<std::string, std::string>>& getHeaders() const override { return headers_; }
    const std::string& getQueryString() const override { return query_; }

private:
    std::string body_;
    std::string method_ = "POST";
    std::smatch match_;
    std::vector<std::pair<std::string, std::string>> headers_;
    std::string query_;
};

}  // namespace vx::test
