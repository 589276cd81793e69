#pragma once

#include <curl/curl.h>

#include <cstddef>
#include <cstdint>
#include <string>

namespace vx::shared::agents::measurements::http {

// A PUT body given as text, read by libcurl in place.
struct UploadBody {
    std::string body;
    uint64_t offset = 0;
};

// CURLOPT_READFUNCTION over an UploadBody: copies the next bytes, 0 once the body is exhausted.
size_t readStringBody(char* buffer, size_t size, size_t count, void* record);

// CURLOPT_SEEKFUNCTION over an UploadBody: only absolute positions within the body (its end included).
int seekStringBody(void* record, curl_off_t position, int origin);

}  // namespace vx::shared::agents::measurements::http
