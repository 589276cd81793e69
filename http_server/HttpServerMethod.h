#pragma once

#include <functional>

#include "http_server/IHttpRequest.h"
#include "http_server/IHttpResponse.h"

namespace vx::rc {

// A method handler. The server calls execute once per matching request on one of its
// I/O threads; the handler answers by calling the callback exactly once, from any thread.
class HttpServerMethod {
public:
    // Copies what it needs from the response during the call, so a temporary will do.
    using ResponseCallback = std::function<void(const IHttpResponse&)>;

    virtual ~HttpServerMethod() = default;
    virtual void execute(const IHttpRequest& request, ResponseCallback callback) = 0;
};

}  // namespace vx::rc
