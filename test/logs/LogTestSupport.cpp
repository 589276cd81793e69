#include "LogTestSupport.h"

#include "vx/util/Logging.h"
#include "vx/util/RootAppenders.h"

#include <log4cxx/mdc.h>

#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

extern char** environ;

namespace vx::util::test {

std::vector<std::string> readLines(const std::string& path) {
    std::ifstream in(path);
    std::vector<std::string> lines;
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::string readAll(const std::string& path) {
    std::ifstream in(path);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::string& path, const std::string& content) {
    std::ofstream(path) << content;
}

namespace {

void resetHierarchy() {
    const log4cxx::LoggerPtr root = getRootLogger();
    root->removeAllAppenders();
    root_appenders::silenceWhileEmpty(root);
    root->setLevel(log4cxx::Level::getDebug());
    log4cxx::MDC::clear();
}

}  // namespace

void LogHierarchyTest::SetUp() {
    resetHierarchy();
}

void LogHierarchyTest::TearDown() {
    resetHierarchy();
}

std::vector<std::string> LogHierarchyTest::rootAppenderNames() {
    std::vector<std::string> names;
    for (const auto& appender : getRootLogger()->getAllAppenders()) {
        if (!root_appenders::isPlaceholder(appender)) {
            names.push_back(appender->getName());
        }
    }
    return names;
}

bool LogHierarchyTest::rootHasPlaceholder() {
    for (const auto& appender : getRootLogger()->getAllAppenders()) {
        if (root_appenders::isPlaceholder(appender)) {
            return true;
        }
    }
    return false;
}

ProbeResult runProbe(const std::vector<std::string>& args, const std::string& workDir,
                     const std::vector<std::string>& extraEnv) {
    TempDir captures;
    const std::string outPath = captures.file("stdout");
    const std::string errPath = captures.file("stderr");

    // Everything the child needs is built before fork: only async-signal-safe calls after it.
    std::vector<std::string> argStrings{VX_LOGS_PROBE};
    argStrings.insert(argStrings.end(), args.begin(), args.end());
    std::vector<char*> argv;
    for (auto& arg : argStrings) {
        argv.push_back(arg.data());
    }
    argv.push_back(nullptr);

    std::vector<std::string> envStrings;
    for (char** entry = environ; *entry != nullptr; ++entry) {
        const std::string text(*entry);
        // The child sees only the configuration variables the test hands it.
        if (text.rfind("LOG4CXX_", 0) != 0 && text.rfind("log4j.", 0) != 0) {
            envStrings.push_back(text);
        }
    }
    envStrings.insert(envStrings.end(), extraEnv.begin(), extraEnv.end());
    std::vector<char*> envp;
    for (auto& entry : envStrings) {
        envp.push_back(entry.data());
    }
    envp.push_back(nullptr);

    const pid_t pid = fork();
    if (pid < 0) {
        throw std::runtime_error("fork failed");
    }
    if (pid == 0) {
        const int outFd = open(outPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        const int errFd = open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        if (outFd < 0 || errFd < 0 || chdir(workDir.c_str()) != 0 || dup2(outFd, 1) < 0 ||
            dup2(errFd, 2) < 0) {
            _exit(126);
        }
        execve(argv[0], argv.data(), envp.data());
        _exit(127);
    }
    int status = 0;
    while (waitpid(pid, &status, 0) < 0 && errno == EINTR) {
    }
    ProbeResult result;
    result.exitStatus = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    result.out = readAll(outPath);
    result.err = readAll(errPath);
    return result;
}

}  // namespace vx::util::test
