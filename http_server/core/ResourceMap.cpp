#include "http_server/core/ResourceMap.h"

#include <utility>

namespace vx::rc::core {

void ResourceMap::add(const std::string& pattern, const std::string& method, RequestHandler handler) {
    auto it = routes_.find(pattern);
    if (it == routes_.end()) {
        it = routes_.emplace(pattern, Route{std::regex(pattern, std::regex::ECMAScript), {}}).first;
    }
    it->second.byMethod[method] = std::move(handler);
}

const RequestHandler* ResourceMap::find(Request& request) const {
    for (const auto& [pattern, route] : routes_) {
        const auto handler = route.byMethod.find(request.method);
        if (handler != route.byMethod.end() && std::regex_match(request.path, request.path_match, route.regex)) {
            return &handler->second;
        }
    }
    return nullptr;
}

}  // namespace vx::rc::core
