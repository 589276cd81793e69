#include "http_client/StringUpload.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace vx::shared::agents::measurements::http {

size_t readStringBody(char* buffer, size_t size, size_t count, void* record) {
    auto* upload = static_cast<UploadBody*>(record);
    if (upload == nullptr) {
        return CURL_READFUNC_ABORT;
    }
    const uint64_t remaining = upload->body.size() - upload->offset;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(static_cast<uint64_t>(size) * count, remaining));
    std::memcpy(buffer, upload->body.data() + upload->offset, n);
    upload->offset += n;
    return n;
}

int seekStringBody(void* record, curl_off_t position, int origin) {
    auto* upload = static_cast<UploadBody*>(record);
    if (origin != SEEK_SET || position < 0 || upload == nullptr ||
        static_cast<uint64_t>(position) > upload->body.size()) {
        return CURL_SEEKFUNC_FAIL;
    }
    upload->offset = static_cast<uint64_t>(position);
    return CURL_SEEKFUNC_OK;
}

}  // namespace vx::shared::agents::measurements::http
