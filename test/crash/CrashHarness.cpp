#include "crash/CrashHarness.h"

#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace vx::test::crash {

namespace fs = std::filesystem;

int runIn(const std::string& directory, const std::string& program, const Arguments& arguments) {
    std::vector<char*> argv;
    argv.push_back(const_cast<char*>(program.c_str()));
    for (const auto& argument : arguments) {
        argv.push_back(const_cast<char*>(argument.c_str()));
    }
    argv.push_back(nullptr);
    const pid_t child = fork();
    if (child < 0) {
        throw std::runtime_error("fork failed");
    }
    if (child == 0) {
        if (chdir(directory.c_str()) == 0) {
            execv(program.c_str(), argv.data());
        }
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
    return status;
}

std::vector<Arguments> readCalls(const std::string& directory) {
    std::vector<Arguments> calls;
    std::ifstream in(directory + "/calls.txt");
    std::string line;
    while (std::getline(in, line)) {
        Arguments call(static_cast<size_t>(std::stoi(line)));
        for (auto& argument : call) {
            std::getline(in, argument);
        }
        calls.push_back(std::move(call));
    }
    return calls;
}

std::string readFile(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream content;
    content << in.rdbuf();
    return content.str();
}

std::vector<std::string> dumpsMentioning(const std::string& token) {
    std::vector<std::string> dumps;
    std::error_code error;
    for (const auto& entry : fs::directory_iterator("/tmp", error)) {
        if (entry.path().extension() == ".dmp" && entry.is_regular_file(error) &&
            readFile(entry.path()).find(token) != std::string::npos) {
            dumps.push_back(entry.path());
        }
    }
    return dumps;
}

::testing::AssertionResult minidumpReadable(const std::string& path, int crashSignal) {
    const std::string command = std::string(VX_MINIDUMP_DUMP) + " '" + path + "' 2>&1";
    std::string output;
    if (FILE* pipe = popen(command.c_str(), "r")) {
        char buffer[4096];
        size_t count = 0;
        while ((count = std::fread(buffer, 1, sizeof buffer, pipe)) > 0) {
            output.append(buffer, count);
        }
        pclose(pipe);
    }
    for (const char* section : {"MDRawHeader", "MinidumpThreadList", "MinidumpModuleList"}) {
        if (output.find(section) == std::string::npos) {
            return ::testing::AssertionFailure() << path << ": no " << section << " in\n" << output;
        }
    }
    std::istringstream lines(output);
    std::string line;
    while (std::getline(lines, line)) {
        if (line.find("ERROR:") != std::string::npos && line.find("GetMiscInfo") == std::string::npos &&
            line.find("GetMemoryInfoList") == std::string::npos) {
            return ::testing::AssertionFailure() << path << ": " << line;
        }
    }
    if (crashSignal != 0) {
        const size_t field = output.find("exception_record.exception_code");
        const size_t hex = output.find("0x", field);
        if (field == std::string::npos || hex == std::string::npos ||
            std::stoi(output.substr(hex + 2, 8), nullptr, 16) != crashSignal) {
            return ::testing::AssertionFailure() << path << ": no exception for signal " << crashSignal;
        }
    }
    return ::testing::AssertionSuccess();
}

}  // namespace vx::test::crash
