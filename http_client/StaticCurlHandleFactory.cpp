#include "http_client/StaticCurlHandleFactory.h"

#include <curl/curl.h>

#include "http_client/CurlHandle.h"

namespace vx::shared::agents::measurements::http {

uint32_t StaticCurlHandleFactory::globalInit() {
    return curl_global_init(CURL_GLOBAL_ALL);
}

void StaticCurlHandleFactory::globalCleanup() {
    curl_global_cleanup();
}

CurlHandlePtr StaticCurlHandleFactory::createHandle() {
    // The deletion function travels with the pointer, so holders need not know the concrete type.
    return CurlHandlePtr(new CurlHandle(), &destroyFactoryObject<ICurlHandle>);
}

}  // namespace vx::shared::agents::measurements::http
