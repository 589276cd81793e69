#pragma once

#include <curl/curl.h>

#include <functional>

#include "http_client/ICurlHandle.h"

namespace vx::shared::agents::measurements::http {

// One message from the multi handle's queue; all fields zero when there is none.
struct CurlMultiMessage {
    unsigned type = 0;              // CURLMSG_DONE (1) for a finished transfer
    ICurlHandle* handle = nullptr;  // null when the easy handle is not registered here
    CURLcode result = CURLE_OK;     // the transfer's result when type is CURLMSG_DONE
    int remaining = 0;              // messages still queued
};

// A libcurl multi handle driven through the socket-action interface. It never owns the
// ICurlHandle objects added to it. Setters return a CURLMcode (0 = success) and never throw.
class ICurlMultiHandle {
public:
    // libcurl's CURL_POLL_* values.
    enum CurlMultiPoll : int { PollNone = 0, PollIn = 1, PollOut = 2, PollInOut = 3, PollRemove = 4 };

    using SocketFunction = std::function<int(void* easy, int socket, CurlMultiPoll what)>;
    using TimerFunction = std::function<int(void* multi, long timeoutMs)>;

    virtual ~ICurlMultiHandle() = default;

    virtual bool init() = 0;
    virtual CURLMcode addHandle(ICurlHandle* handle) = 0;
    virtual CURLMcode removeHandle(ICurlHandle* handle) = 0;
    virtual CURLMcode setSocketCallback(SocketFunction function) = 0;
    virtual CURLMcode setTimerCallback(TimerFunction function) = 0;
    virtual CURLMcode socketAction(int socket, int eventMask, int* running) = 0;
    virtual CurlMultiMessage readInfo() = 0;
};

}  // namespace vx::shared::agents::measurements::http
