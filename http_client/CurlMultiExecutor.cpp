#include "http_client/CurlMultiExecutor.h"

#include <curl/curl.h>

#include <exception>
#include <future>
#include <iostream>
#include <memory>
#include <string>
#include <utility>

namespace vx::shared::agents::measurements::http {

namespace {

// One write per line, so lines from different threads do not interleave.
void writeError(const char* prefix, const std::exception& error) {
    std::cerr << (std::string(prefix) + error.what() + "\n") << std::flush;
}

// Loop event bits -> CURL_CSELECT_* bits.
int toCurlEventMask(unsigned events) {
    int mask = 0;
    if ((events & IMultiEventLoop::EventReadable) != 0) {
        mask |= CURL_CSELECT_IN;
    }
    if ((events & IMultiEventLoop::EventWritable) != 0) {
        mask |= CURL_CSELECT_OUT;
    }
    if ((events & (IMultiEventLoop::EventError | IMultiEventLoop::EventHangUp)) != 0) {
        mask |= CURL_CSELECT_ERR;
    }
    return mask;
}

}  // namespace

CurlMultiExecutor::CurlMultiExecutor(CurlMultiHandlePtr multiHandle, MultiEventLoopPtr eventLoop,
                                     CompletionFunction onCompleteFunction, WorkerStartFunction onWorkerStart)
    : multi(std::move(multiHandle)), onComplete(std::move(onCompleteFunction)), loop(std::move(eventLoop)) {
    if (!multi || !loop || !onComplete) {
        throw CurlMultiException("CurlMultiExecutor requires multi handle, loop, and callback");
    }
    if (!loop->start([this](int socket, unsigned events) { onSocketEvent(socket, events); },
                     [this] { onTimeout(); })) {
        throw CurlMultiException("CurlMultiExecutor failed to start event loop");
    }

    // The multi handle is set up on the loop thread, which alone uses it from then on.
    auto initialised = std::make_shared<std::promise<void>>();
    std::future<void> signal = initialised->get_future();
    loop->post([this, initialised, workerStart = std::move(onWorkerStart)] {
        try {
            if (workerStart) {
                workerStart();
            }
            initMultiHandle();
            initialised->set_value();
        } catch (const std::exception&) {
            initialised->set_exception(std::current_exception());
        }
    });

    if (signal.wait_for(InitTimeout) != std::future_status::ready) {
        loop->stop();
        throw CurlMultiException("CurlMultiExecutor timed out waiting for worker initialization");
    }
    try {
        signal.get();
    } catch (...) {
        loop->stop();
        throw;
    }
}

CurlMultiExecutor::~CurlMultiExecutor() {
    // Nothing may run on the loop thread once the members below start going away.
    loop->stop();
}

void CurlMultiExecutor::dispatchRequest(RequestBuilder builder) {
    if (!builder) {
        return;
    }
    loop->post([this, build = std::move(builder)] { startTransfer(build); });
}

void CurlMultiExecutor::initMultiHandle() {
    if (!multi->init()) {
        throw CurlMultiException("CurlMultiExecutor failed to init multi handle");
    }
    if (multi->setSocketCallback([this](void*, int socket, ICurlMultiHandle::CurlMultiPoll what) {
            return onCurlSocket(socket, what);
        }) != CURLM_OK) {
        throw CurlMultiException("CurlMultiExecutor failed to set socket callback");
    }
    if (multi->setTimerCallback([this](void*, long timeoutMs) { return setTimer(timeoutMs); }) != CURLM_OK) {
        throw CurlMultiException("CurlMultiExecutor failed to set timer callback");
    }
}

int CurlMultiExecutor::onCurlSocket(int socket, ICurlMultiHandle::CurlMultiPoll what) {
    switch (what) {
    case ICurlMultiHandle::PollIn:
        return loop->watchSocket(socket, IMultiEventLoop::WatchReadable);
    case ICurlMultiHandle::PollOut:
        return loop->watchSocket(socket, IMultiEventLoop::WatchWritable);
    case ICurlMultiHandle::PollInOut:
        return loop->watchSocket(socket, IMultiEventLoop::WatchBoth);
    case ICurlMultiHandle::PollNone:
    case ICurlMultiHandle::PollRemove:
        return loop->unwatchSocket(socket);
    }
    return -1;
}

int CurlMultiExecutor::setTimer(long timeoutMs) {
    if (timeoutMs != 0) {
        return loop->startTimer(timeoutMs);
    }
    // libcurl forbids re-entering it from its timer function.
    loop->post([this] { onTimeout(); });
    return 0;
}

void CurlMultiExecutor::onSocketEvent(int socket, unsigned events) {
    const int mask = toCurlEventMask(events);
    if (mask == 0) {
        return;
    }
    int running = 0;
    multi->socketAction(socket, mask, &running);
    processCompletions();
}

void CurlMultiExecutor::onTimeout() {
    int running = 0;
    multi->socketAction(CURL_SOCKET_TIMEOUT, 0, &running);
    processCompletions();
}

void CurlMultiExecutor::processCompletions() {
    for (CurlMultiMessage message = multi->readInfo(); message.type == CURLMSG_DONE; message = multi->readInfo()) {
        if (message.handle == nullptr || multi->removeHandle(message.handle) != CURLM_OK) {
            continue;
        }
        // Read before the completion function, which may release the handle.
        const long code = message.handle->getResponseCode();
        complete(*message.handle, code);
    }
}

void CurlMultiExecutor::startTransfer(const RequestBuilder& builder) {
    ICurlHandle* handle = nullptr;
    try {
        handle = builder();
    } catch (const std::exception& error) {
        writeError("CurlMultiExecutor request builder error: ", error);
        return;
    }
    if (handle == nullptr) {
        return;
    }
    if (multi->addHandle(handle) != CURLM_OK) {
        complete(*handle, 0);
        return;
    }
    int running = 0;
    multi->socketAction(CURL_SOCKET_TIMEOUT, 0, &running);
    processCompletions();
}

void CurlMultiExecutor::complete(const ICurlHandle& handle, long code) {
    if (!onComplete) {
        return;
    }
    try {
        onComplete(handle, code);
    } catch (const std::exception& error) {
        writeError("CurlMultiExecutor callback error: ", error);
    }
}

}  // namespace vx::shared::agents::measurements::http
