#pragma once

#include <cstdint>
#include <string>

#include <boost/beast/http/fields.hpp>

namespace vx::rc::core {

// The exact bytes of a response: status line, the fields in map order, a Content-Length
// unless the fields carry their own length or ask for a chunked or event-stream body,
// the blank line and the body.
std::string formatResponse(int32_t statusCode, const std::string& body, const boost::beast::http::fields& header);

}  // namespace vx::rc::core
