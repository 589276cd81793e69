#include "http_client/CurlMultiHandle.h"

namespace vx::shared::agents::measurements::http {

CurlMultiHandle::~CurlMultiHandle() {
    // The functions go before the cleanup, which may still report sockets being removed;
    // the trampolines then find them empty and do nothing.
    handles.clear();
    timerCallback = nullptr;
    socketCallback = nullptr;
    if (multiHandle != nullptr) {
        curl_multi_cleanup(multiHandle);
    }
}

bool CurlMultiHandle::init() {
    CURLM* fresh = curl_multi_init();
    if (fresh == nullptr) {
        return multiHandle != nullptr;
    }
    CURLM* previous = multiHandle;
    multiHandle = fresh;
    if (previous != nullptr) {
        // Easy handles of the old multi handle are detached by its cleanup.
        handles.clear();
        curl_multi_cleanup(previous);
    }
    return true;
}

CURLMcode CurlMultiHandle::addHandle(ICurlHandle* handle) {
    if (handle == nullptr) {
        return CURLM_BAD_EASY_HANDLE;
    }
    CURL* easy = handle->getNativeHandle();
    const CURLMcode code = curl_multi_add_handle(multiHandle, easy);
    if (code == CURLM_OK) {
        handles[easy] = handle;
    }
    return code;
}

CURLMcode CurlMultiHandle::removeHandle(ICurlHandle* handle) {
    if (handle == nullptr) {
        return CURLM_BAD_EASY_HANDLE;
    }
    CURL* easy = handle->getNativeHandle();
    const CURLMcode code = curl_multi_remove_handle(multiHandle, easy);
    if (code != CURLM_OK) {
        return code;
    }
    handles.erase(easy);
    return CURLM_OK;
}

CURLMcode CurlMultiHandle::setSocketCallback(SocketFunction function) {
    socketCallback = std::move(function);
    CURLMcode code = curl_multi_setopt(multiHandle, CURLMOPT_SOCKETFUNCTION, &CurlMultiHandle::socketTrampoline);
    if (code != CURLM_OK) {
        return code;
    }
    return curl_multi_setopt(multiHandle, CURLMOPT_SOCKETDATA, this);
}

CURLMcode CurlMultiHandle::setTimerCallback(TimerFunction function) {
    timerCallback = std::move(function);
    CURLMcode code = curl_multi_setopt(multiHandle, CURLMOPT_TIMERFUNCTION, &CurlMultiHandle::timerTrampoline);
    if (code != CURLM_OK) {
        return code;
    }
    return curl_multi_setopt(multiHandle, CURLMOPT_TIMERDATA, this);
}

CURLMcode CurlMultiHandle::socketAction(int socket, int eventMask, int* running) {
    if (multiHandle == nullptr) {
        return CURLM_BAD_HANDLE;
    }
    int ignored = 0;
    return curl_multi_socket_action(multiHandle, socket, eventMask, running != nullptr ? running : &ignored);
}

CurlMultiMessage CurlMultiHandle::readInfo() {
    CurlMultiMessage message;
    if (multiHandle == nullptr) {
        return message;
    }
    int remaining = 0;
    const CURLMsg* info = curl_multi_info_read(multiHandle, &remaining);
    if (info == nullptr) {
        return message;
    }
    // Copied out: libcurl's message is gone once the easy handle is removed.
    message.type = static_cast<unsigned>(info->msg);
    const auto found = handles.find(info->easy_handle);
    message.handle = found != handles.end() ? found->second : nullptr;
    message.result = info->msg == CURLMSG_DONE ? info->data.result : CURLE_OK;
    message.remaining = remaining;
    return message;
}

int CurlMultiHandle::socketTrampoline(CURL* easy, curl_socket_t socket, int what, void* self, void* /*socketData*/) {
    auto* owner = static_cast<CurlMultiHandle*>(self);
    if (owner == nullptr || !owner->socketCallback) {
        return 0;
    }
    return owner->socketCallback(easy, socket, static_cast<CurlMultiPoll>(what));
}

int CurlMultiHandle::timerTrampoline(CURLM* multi, long timeoutMs, void* self) {
    auto* owner = static_cast<CurlMultiHandle*>(self);
    if (owner == nullptr || !owner->timerCallback) {
        return 0;
    }
    return owner->timerCallback(multi, timeoutMs);
}

}  // namespace vx::shared::agents::measurements::http
