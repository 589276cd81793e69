#include "http_server/core/ConnectionRegistry.h"

namespace vx::rc::core {

void ConnectionRegistry::add(const std::shared_ptr<Session>& session) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.insert(session);
}

void ConnectionRegistry::remove(const std::shared_ptr<Session>& session) {
    std::lock_guard<std::mutex> lock(mutex_);
    sessions_.erase(session);
}

std::vector<std::shared_ptr<Session>> ConnectionRegistry::takeAll() {
    std::lock_guard<std::mutex> lock(mutex_);
    std::vector<std::shared_ptr<Session>> all(sessions_.begin(), sessions_.end());
    sessions_.clear();
    return all;
}

}  // namespace vx::rc::core
