#include "http_client/StaticCurlHandleFactory.h"

#include <curl/curl.h>

#include <utility>

#include "http_client/CurlHandle.h"
#include "http_client/CurlMultiExecutor.h"
#include "http_client/CurlMultiHandle.h"

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

CurlMultiHandlePtr StaticCurlHandleFactory::createMultiHandle() {
    return CurlMultiHandlePtr(new CurlMultiHandle(), &destroyFactoryObject<ICurlMultiHandle>);
}

CurlMultiExecutorPtr StaticCurlHandleFactory::createMultiExecutor(MultiEventLoopPtr loop,
                                                                  const CompletionFunction& onComplete,
                                                                  const WorkerStartFunction& onWorkerStart) {
    // Every part is owned by a smart pointer or a parameter before the executor is built, so a
    // throwing constructor releases them all, and the new-expression frees the executor's memory.
    CurlMultiHandlePtr multi = createMultiHandle();
    auto* executor = new CurlMultiExecutor(std::move(multi), std::move(loop), onComplete, onWorkerStart);
    return CurlMultiExecutorPtr(executor, &destroyFactoryObject<ICurlMultiExecutor>);
}

}  // namespace vx::shared::agents::measurements::http
