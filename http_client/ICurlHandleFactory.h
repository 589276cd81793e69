#pragma once

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

// Initialises libcurl once per process and creates the transfer wrappers.
class ICurlHandleFactory {
public:
    virtual ~ICurlHandleFactory() = default;
    virtual uint32_t globalInit() = 0;
    virtual void globalCleanup() = 0;
    virtual CurlHandlePtr createHandle() = 0;
};

}  // namespace vx::shared::agents::measurements::http
