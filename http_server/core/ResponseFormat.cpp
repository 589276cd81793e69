#include "http_server/core/ResponseFormat.h"

#include <boost/beast/core/string.hpp>

#include "http_server/core/StatusCodes.h"

namespace vx::rc::core {
namespace {

namespace http = boost::beast::http;
using boost::beast::iequals;

// The body's length is left to the writer when the fields already settle how it ends.
bool framesItsOwnBody(const http::fields& header) {
    for (const auto& field : header) {
        const auto name = field.name_string();
        if (iequals(name, "content-length") ||
            (iequals(name, "transfer-encoding") && iequals(field.value(), "chunked")) ||
            (iequals(name, "content-type") && iequals(field.value(), "text/event-stream"))) {
            return true;
        }
    }
    return false;
}

}  // namespace

std::string formatResponse(int32_t statusCode, const std::string& body, const http::fields& header) {
    std::string out;
    out.reserve(128 + body.size());
    out.append("HTTP/1.1 ").append(statusLineText(statusCode)).append("\r\n");
    for (const auto& field : header) {
        const auto name = field.name_string();
        const auto value = field.value();
        out.append(name.data(), name.size()).append(": ").append(value.data(), value.size()).append("\r\n");
    }
    if (framesItsOwnBody(header)) {
        out.append("\r\n");
    } else {
        out.append("Content-Length: ").append(std::to_string(body.size())).append("\r\n\r\n");
    }
    out.append(body);
    return out;
}

}  // namespace vx::rc::core
