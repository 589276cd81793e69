#pragma once

#include <gtest/gtest.h>

#include <string>

#include "http_client/CurlHandle.h"

namespace vx::shared::agents::measurements::http::testing {

inline size_t appendToString(char* data, size_t size, size_t count, void* out) {
    static_cast<std::string*>(out)->append(data, size * count);
    return size * count;
}

// An initialised handle aimed at `url` whose response body lands in `body`, with a generous
// timeout so a broken exchange fails the test instead of hanging it.
inline void prepare(CurlHandle& handle, const std::string& url, std::string& body) {
    ASSERT_TRUE(handle.init());
    ASSERT_EQ(0u, handle.setUrl(url));
    ASSERT_EQ(0u, handle.setWriteCallback(appendToString, &body));
    ASSERT_EQ(0u, handle.setTimeout(60));
}

}  // namespace vx::shared::agents::measurements::http::testing
