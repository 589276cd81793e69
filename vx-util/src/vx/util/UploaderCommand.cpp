#include "vx/util/UploaderCommand.h"

#include <sys/types.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <ctime>
#include <utility>

#include "vx/util/Logging.h"

namespace vx::util {

VX_DEFINE_LOGGER(logger, "vx.util.exceptionmanager")

namespace {

// Runs in the forked child: only async-signal-safe calls from here on.
[[noreturn]] void execUploader(const char* path, char* const* argv) {
    const long maxDescriptors = sysconf(_SC_OPEN_MAX);
    for (long fd = 3; fd < maxDescriptors; ++fd) {
        close(static_cast<int>(fd));
    }
    execv(path, argv);
    // _exit, not exit: the child must not run the parent's atexit handlers or flush its
    // stdio buffers a second time.
    _exit(errno);
}

void logChildEnd(int status) {
    if (!WIFEXITED(status)) {
        VX_LOG_ERROR(logger(), "Minidump uploader didn't exit in a proper way");
    } else if (WEXITSTATUS(status) != 0) {
        VX_LOG_ERROR(logger(), "Failed to run minidump uploader, exit code " << WEXITSTATUS(status));
    }
}

}  // namespace

void UploaderCommand::runUploader(const char* dumpPath) {
    char crashTime[24];
    std::snprintf(crashTime, sizeof crashTime, "%lld", static_cast<long long>(std::time(nullptr)));
    arguments.appendAnnotation("CrashTime", crashTime);
    if (!agentId.empty()) {
        arguments.appendAnnotation("agentId", agentId.c_str());
    }
    const std::pair<const char*, const std::string*> optionals[] = {
        {"-x", &optionX}, {"-u", &optionU}, {"-P", &optionP}, {"-t", &optionT}};
    for (const auto& [flag, value] : optionals) {
        if (!value->empty()) {
            arguments.appendJoined(flag, value->c_str());
        }
    }
    arguments.append(dumpPath);
    arguments.append(uploadUrl.c_str());
    arguments.append(logFilePath.c_str());
    arguments.append(securityMode.c_str());
    arguments.terminate();

    const pid_t child = fork();
    if (child == 0) {
        execUploader(uploaderPath.c_str(), arguments.argv());
    }
    if (child < 0) {
        VX_LOG_ERROR(logger(), "Forking to send minidump failed!");
        // Inside a crash or a dump request nothing sensible can go on without the tool;
        // _exit avoids running destructors on a process that may be half broken.
        _exit(255);
    }
    int status = 0;
    pid_t waited = -1;
    do {
        waited = waitpid(child, &status, 0);
    } while (waited < 0 && errno == EINTR);
    if (waited < 0) {
        // The child could not be reaped (e.g. SIGCHLD ignored): its end is unknown.
        VX_LOG_ERROR(logger(), "Minidump uploader didn't exit in a proper way");
    } else {
        logChildEnd(status);
    }
    arguments.reset();
}

}  // namespace vx::util
