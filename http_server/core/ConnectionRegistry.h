#pragma once

#include <memory>
#include <mutex>
#include <unordered_set>
#include <vector>

namespace vx::rc::core {

class Session;

// The open connections. Holding them here keeps a session alive while its handler works
// on an answer, and lets the server close them all when it stops.
class ConnectionRegistry {
public:
    void add(const std::shared_ptr<Session>& session);
    void remove(const std::shared_ptr<Session>& session);
    std::vector<std::shared_ptr<Session>> takeAll();

private:
    std::mutex mutex_;
    std::unordered_set<std::shared_ptr<Session>> sessions_;
};

}  // namespace vx::rc::core
