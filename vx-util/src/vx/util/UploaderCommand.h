#pragma once

#include <string>

#include "vx/util/ArgumentVector.h"

namespace vx::util {

// What the crash callback needs to start the upload tool: everything is prepared before
// a crash, so the callback only copies into existing buffers, forks and waits.
struct UploaderCommand {
    bool crashReportsEnabled = false;
    std::string uploaderPath;
    std::string uploadUrl;
    std::string logFilePath;
    std::string securityMode;
    std::string agentId;
    // Values sent behind "-x", "-u", "-P" and "-t" when not empty.
    std::string optionX;
    std::string optionU;
    std::string optionP;
    std::string optionT;
    ArgumentVector arguments;

    // Completes the command line for the dump at dumpPath, runs the tool to its end, logs
    // how it ended and resets the arguments to the base ones.
    void runUploader(const char* dumpPath);
};

}  // namespace vx::util
