#pragma once

#include <functional>
#include <map>
#include <memory>
#include <regex>
#include <string>

#include "http_server/core/Request.h"

namespace vx::rc::core {

class Response;

using RequestHandler = std::function<void(const std::shared_ptr<Response>&, const std::shared_ptr<Request>&)>;

// Routes keyed by the pattern's source text and, within one pattern, by HTTP method.
// Written before the server starts and only read afterwards.
class ResourceMap {
public:
    // Adds the route or replaces the one for the same pattern and method.
    void add(const std::string& pattern, const std::string& method, RequestHandler handler);

    // The handler whose pattern matches the whole path and whose method matches; fills
    // the request's path_match. Null when nothing matches.
    const RequestHandler* find(Request& request) const;

private:
    struct Route {
        std::regex regex;
        std::map<std::string, RequestHandler> byMethod;
    };
    std::map<std::string, Route> routes_;
};

}  // namespace vx::rc::core
