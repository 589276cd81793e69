#pragma once

#include <chrono>

#include "http_client/CurlMultiException.h"
#include "http_client/ICurlHandleFactory.h"
#include "http_client/ICurlMultiExecutor.h"
#include "http_client/ICurlMultiHandle.h"
#include "http_client/IMultiEventLoop.h"

namespace vx::shared::agents::measurements::http {

// Ties a multi handle to an event loop through libcurl's socket-action interface. After the
// constructor, everything except dispatchRequest runs on the loop's one thread, so the multi
// handle and the transfers in it need no lock.
class CurlMultiExecutor : public ICurlMultiExecutor {
public:
    // How long the constructor waits for the loop thread to initialise the multi handle.
    static constexpr std::chrono::seconds InitTimeout{2};

    // Starts the loop, then on its thread runs onWorkerStart and initialises the multi handle.
    // Throws CurlMultiException (or what onWorkerStart threw); the parts are released then.
    CurlMultiExecutor(CurlMultiHandlePtr multiHandle, MultiEventLoopPtr eventLoop, CompletionFunction onCompleteFunction,
                      WorkerStartFunction onWorkerStart);
    // Stops the loop first; transfers still running are abandoned without a completion call.
    ~CurlMultiExecutor() override;
    CurlMultiExecutor(const CurlMultiExecutor&) = delete;
    CurlMultiExecutor& operator=(const CurlMultiExecutor&) = delete;

    void dispatchRequest(RequestBuilder builder) override;

private:
    void initMultiHandle();
    // CURLMOPT_SOCKETFUNCTION
    int onCurlSocket(int socket, ICurlMultiHandle::CurlMultiPoll what);
    // CURLMOPT_TIMERFUNCTION; must not call libcurl, so a zero timeout is posted.
    int setTimer(long timeoutMs);
    void onSocketEvent(int socket, unsigned events);
    void onTimeout();
    void processCompletions();
    void startTransfer(const RequestBuilder& builder);
    void complete(const ICurlHandle& handle, long code);

    // Destroyed in reverse: loop, then completion function, then multi handle.
    CurlMultiHandlePtr multi;
    CompletionFunction onComplete;
    MultiEventLoopPtr loop;
};

}  // namespace vx::shared::agents::measurements::http
