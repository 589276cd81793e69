#pragma once

#include "http_client/ICurlHandleFactory.h"

namespace vx::shared::agents::measurements::http {

// Initialises libcurl for the process and creates CurlHandle wrappers. Stateless; shared by its users.
class StaticCurlHandleFactory : public ICurlHandleFactory {
public:
    uint32_t globalInit() override;
    void globalCleanup() override;
    CurlHandlePtr createHandle() override;
    CurlMultiHandlePtr createMultiHandle() override;
    CurlMultiExecutorPtr createMultiExecutor(MultiEventLoopPtr loop, const CompletionFunction& onComplete,
                                             const WorkerStartFunction& onWorkerStart) override;
};

}  // namespace vx::shared::agents::measurements::http
