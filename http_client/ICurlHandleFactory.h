#pragma once

#include <functional>
#include <memory>

#include "http_client/ICurlHandle.h"

namespace vx::shared::agents::measurements::http {

// An owning pointer that carries its own deletion function beside the object pointer.
template <typename T>
using FactoryPtr = std::unique_ptr<T, void (*)(T*)>;

// Destroys through the virtual destructor; does nothing for null.
template <typename T>
void destroyFactoryObject(T* object) {
    delete object;
}

using CurlHandlePtr = FactoryPtr<ICurlHandle>;

// The multi layer; declared only, so users of single transfers do not pull it in.
class ICurlMultiHandle;
class ICurlMultiExecutor;
class IMultiEventLoop;
using CurlMultiHandlePtr = FactoryPtr<ICurlMultiHandle>;
using CurlMultiExecutorPtr = FactoryPtr<ICurlMultiExecutor>;
using MultiEventLoopPtr = FactoryPtr<IMultiEventLoop>;
// Called on the loop thread for each finished transfer with its HTTP status (0 when none arrived).
using CompletionFunction = std::function<void(const ICurlHandle& handle, long responseCode)>;
// Run first on the loop thread, before the multi handle is initialised.
using WorkerStartFunction = std::function<void()>;

// Initialises libcurl once per process and creates the transfer wrappers.
class ICurlHandleFactory {
public:
    virtual ~ICurlHandleFactory() = default;
    virtual uint32_t globalInit() = 0;
    virtual void globalCleanup() = 0;
    virtual CurlHandlePtr createHandle() = 0;
    virtual CurlMultiHandlePtr createMultiHandle() = 0;
    // Takes the loop; throws CurlMultiException when the executor cannot start.
    virtual CurlMultiExecutorPtr createMultiExecutor(MultiEventLoopPtr loop, const CompletionFunction& onComplete,
                                                     const WorkerStartFunction& onWorkerStart) = 0;
};

}  // namespace vx::shared::agents::measurements::http
