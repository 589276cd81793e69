#include "vx/util/RootAppenders.h"

#include "vx/util/Logging.h"
#include "vx/util/SilentAppender.h"

#include <memory>
#include <mutex>

namespace vx::util::root_appenders {
namespace {

const log4cxx::AppenderPtr& placeholder() {
    static const log4cxx::AppenderPtr silent = std::make_shared<SilentAppender>();
    return silent;
}

// Attach and detach check and change the root's list in two steps.
std::mutex& listMutex() {
    static std::mutex mutex;
    return mutex;
}

void silenceWhileEmptyLocked(const log4cxx::LoggerPtr& root) {
    if (root->getAllAppenders().empty()) {
        root->addAppender(placeholder());
    }
}

}  // namespace

void attach(const log4cxx::AppenderPtr& appender) {
    const log4cxx::LoggerPtr root = getRootLogger();
    std::lock_guard<std::mutex> lock(listMutex());
    root->addAppender(appender);
    root->removeAppender(placeholder());
}

void detach(const log4cxx::AppenderPtr& appender) {
    if (!appender) {
        return;
    }
    const log4cxx::LoggerPtr root = getRootLogger();
    std::lock_guard<std::mutex> lock(listMutex());
    root->removeAppender(appender);
    silenceWhileEmptyLocked(root);
}

void silenceWhileEmpty(const log4cxx::LoggerPtr& root) {
    std::lock_guard<std::mutex> lock(listMutex());
    silenceWhileEmptyLocked(root);
}

bool isPlaceholder(const log4cxx::AppenderPtr& appender) {
    return appender == placeholder();
}

}  // namespace vx::util::root_appenders
