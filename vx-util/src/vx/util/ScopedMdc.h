#pragma once

#include <map>
#include <string>

namespace vx::util::log_manager {

// Puts entries into the calling thread's mapped diagnostic context for the guard's lifetime.
// On destruction its keys are removed and the entries that were there before come back.
// Use it on one thread only; it acts on the MDC of the thread that runs it.
class ScopedMdc {
public:
    explicit ScopedMdc(std::map<std::string, std::string> entries);
    ~ScopedMdc();
    ScopedMdc(const ScopedMdc&) = delete;
    ScopedMdc& operator=(const ScopedMdc&) = delete;

private:
    std::map<std::string, std::string> earlier_;
    std::map<std::string, std::string> entries_;
};

}  // namespace vx::util::log_manager
