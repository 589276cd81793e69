#pragma once

#include <regex>
#include <string>

#include <boost/beast/http/fields.hpp>

namespace vx::rc::core {

// One parsed request. Lives in a shared pointer and is never moved, because path_match
// points into path.
struct Request {
    std::string method;
    std::string path;
    // The target's text after "?", as received.
    std::string query_string;
    // 10 for HTTP/1.0, 11 for HTTP/1.1.
    unsigned version = 11;
    // Case-insensitive lookup; iterates in the order the fields arrived.
    boost::beast::http::fields header;
    std::string content;
    std::smatch path_match;
};

}  // namespace vx::rc::core
