#pragma once

// Scripted stand-ins for the event loop and the multi handle, driven from the test thread.

#include <deque>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "http_client/CurlHandle.h"
#include "http_client/ICurlMultiHandle.h"
#include "http_client/IMultiEventLoop.h"

namespace vx::test {

using namespace shared::agents::measurements::http;

// Shared record of what happened, in order, across the doubles.
class Journal {
public:
    void add(const std::string& entry) {
        std::lock_guard<std::mutex> lock(mutex);
        entries.push_back(entry);
    }
    std::vector<std::string> snapshot() const {
        std::lock_guard<std::mutex> lock(mutex);
        return entries;
    }
    bool contains(const std::string& entry) const {
        for (const auto& e : snapshot()) {
            if (e == entry) {
                return true;
            }
        }
        return false;
    }

private:
    mutable std::mutex mutex;
    std::vector<std::string> entries;
};

class ScriptedLoop : public IMultiEventLoop {
public:
    enum class Posts { RunInline, Queue, Drop };

    explicit ScriptedLoop(std::shared_ptr<Journal> log) : journal(std::move(log)) {}
    ~ScriptedLoop() override { journal->add("loop destroyed"); }

    bool start(SocketEventFunction onSocketEvent, TimeoutFunction onTimeout) override {
        socketEvent = std::move(onSocketEvent);
        timeout = std::move(onTimeout);
        return startResult;
    }
    void stop() override { journal->add("loop stopped"); }
    void post(Task task) override {
        ++postCalls;
        if (posts == Posts::RunInline) {
            task();
        } else if (posts == Posts::Queue) {
            queued.push_back(std::move(task));
        }
    }
    int startTimer(long timeoutMs) override {
        timers.push_back(timeoutMs);
        return result;
    }
    int watchSocket(int socket, int interest) override {
        watches.emplace_back(socket, interest);
        return result;
    }
    int unwatchSocket(int socket) override {
        unwatches.push_back(socket);
        return result;
    }

    void runQueued() {
        while (!queued.empty()) {
            Task task = std::move(queued.front());
            queued.pop_front();
            task();
        }
    }

    bool startResult = true;
    Posts posts = Posts::RunInline;
    int result = 0;  // returned by startTimer, watchSocket and unwatchSocket

    SocketEventFunction socketEvent;
    TimeoutFunction timeout;
    int postCalls = 0;
    std::deque<Task> queued;
    std::vector<long> timers;
    std::vector<std::pair<int, int>> watches;
    std::vector<int> unwatches;

private:
    std::shared_ptr<Journal> journal;
};

class ScriptedMultiHandle : public ICurlMultiHandle {
public:
    explicit ScriptedMultiHandle(std::shared_ptr<Journal> log) : journal(std::move(log)) {}
    ~ScriptedMultiHandle() override { journal->add("multi destroyed"); }

    bool init() override {
        journal->add("multi init");
        return initResult;
    }
    CURLMcode addHandle(ICurlHandle* handle) override {
        added.push_back(handle);
        return addResult;
    }
    CURLMcode removeHandle(ICurlHandle* handle) override {
        removed.push_back(handle);
        return refuseRemoval.count(handle) != 0 ? CURLM_BAD_EASY_HANDLE : CURLM_OK;
    }
    CURLMcode setSocketCallback(SocketFunction function) override {
        socketFunction = std::move(function);
        return socketCallbackResult;
    }
    CURLMcode setTimerCallback(TimerFunction function) override {
        timerFunction = std::move(function);
        return timerCallbackResult;
    }
    CURLMcode socketAction(int socket, int eventMask, int* running) override {
        actions.emplace_back(socket, eventMask);
        *running = 0;
        return CURLM_OK;
    }
    CurlMultiMessage readInfo() override {
        if (messages.empty()) {
            return {};
        }
        CurlMultiMessage message = messages.front();
        messages.pop_front();
        message.remaining = static_cast<int>(messages.size());
        return message;
    }

    void queueDone(ICurlHandle* handle) { messages.push_back({CURLMSG_DONE, handle, CURLE_OK, 0}); }

    bool initResult = true;
    CURLMcode socketCallbackResult = CURLM_OK;
    CURLMcode timerCallbackResult = CURLM_OK;
    CURLMcode addResult = CURLM_OK;
    std::set<ICurlHandle*> refuseRemoval;

    SocketFunction socketFunction;
    TimerFunction timerFunction;
    std::vector<std::pair<int, int>> actions;  // (socket, event mask)
    std::deque<CurlMultiMessage> messages;
    std::vector<ICurlHandle*> added;
    std::vector<ICurlHandle*> removed;

private:
    std::shared_ptr<Journal> journal;
};

// A real, uninitialised handle that reports a chosen HTTP status.
class StatusHandle : public CurlHandle {
public:
    explicit StatusHandle(int32_t code) : status(code) {}
    int32_t getResponseCode() const override { return status; }

private:
    int32_t status;
};

}  // namespace vx::test
