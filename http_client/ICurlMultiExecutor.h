#pragma once

#include <functional>

#include "http_client/ICurlHandle.h"

namespace vx::shared::agents::measurements::http {

// Runs many transfers at once on one event-loop thread and reports each finished transfer
// through the completion function given at construction.
class ICurlMultiExecutor {
public:
    // Builds a fully configured, initialised handle on the loop thread, or returns null to
    // send nothing. Its owner keeps the handle alive until the completion function ran for it.
    using RequestBuilder = std::function<ICurlHandle*()>;

    virtual ~ICurlMultiExecutor() = default;

    // Safe from any thread; only posts to the loop.
    virtual void dispatchRequest(RequestBuilder builder) = 0;
};

}  // namespace vx::shared::agents::measurements::http
