#include "http_client/ICurlHandle.h"

namespace vx::shared::agents::measurements::http {

// libcurl only reads through the pointer (CURL_BLOB_NOCOPY), so handing out the const bytes is safe.
ICurlHandle::CurlBlob::CurlBlob(const std::string& text)
    : bytes(text), blob{const_cast<char*>(bytes.data()), bytes.size(), CURL_BLOB_NOCOPY} {}

}  // namespace vx::shared::agents::measurements::http
