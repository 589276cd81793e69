#include "http_server/HttpRequest.h"

#include <iterator>

#include "http_server/core/Request.h"

namespace vx::rc {

HttpRequest::HttpRequest(std::shared_ptr<core::Request> request) : request_(std::move(request)) {
    const auto& header = request_->header;
    headers_.reserve(static_cast<std::size_t>(std::distance(header.begin(), header.end())));
    for (const auto& field : header) {
        headers_.emplace_back(std::string(field.name_string()), std::string(field.value()));
    }
}

const std::string& HttpRequest::getMethod() const { return request_->method; }

std::string HttpRequest::getBody() const { return request_->content; }

const std::smatch& HttpRequest::getPathMatch() const { return request_->path_match; }

const std::vector<std::pair<std::string, std::string>>& HttpRequest::getHeaders() const { return headers_; }

const std::string& HttpRequest::getQueryString() const { return request_->query_string; }

}  // namespace vx::rc
