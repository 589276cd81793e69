#pragma once

#include <curl/curl.h>

#include <unordered_map>

#include "http_client/ICurlMultiHandle.h"

namespace vx::shared::agents::measurements::http {

// Wraps one libcurl multi handle and maps its easy handles back to their wrappers.
// Used by one thread at a time (the executor's loop thread).
class CurlMultiHandle : public ICurlMultiHandle {
public:
    CurlMultiHandle() = default;
    ~CurlMultiHandle() override;
    // libcurl holds a pointer to this object as callback data.
    CurlMultiHandle(const CurlMultiHandle&) = delete;
    CurlMultiHandle& operator=(const CurlMultiHandle&) = delete;

    bool init() override;
    CURLMcode addHandle(ICurlHandle* handle) override;
    CURLMcode removeHandle(ICurlHandle* handle) override;
    CURLMcode setSocketCallback(SocketFunction function) override;
    CURLMcode setTimerCallback(TimerFunction function) override;
    CURLMcode socketAction(int socket, int eventMask, int* running) override;
    CurlMultiMessage readInfo() override;

private:
    // CURLMOPT_SOCKETFUNCTION
    static int socketTrampoline(CURL* easy, curl_socket_t socket, int what, void* self, void* socketData);
    // CURLMOPT_TIMERFUNCTION
    static int timerTrampoline(CURLM* multi, long timeoutMs, void* self);

    CURLM* multiHandle = nullptr;
    SocketFunction socketCallback;
    TimerFunction timerCallback;
    std::unordered_map<CURL*, ICurlHandle*> handles;
};

}  // namespace vx::shared::agents::measurements::http
