// The real service, started in private namespaces (see ServiceRun.h), from start-up to its end.
#include <gmock/gmock.h>
#include <gtest/gtest.h>
#include <sched.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <csignal>
#include <filesystem>
#include <fstream>
#include <regex>
#include <sstream>
#include <string>
#include <vector>

#include "crash/CrashHarness.h"
#include "startup/ServiceRun.h"
#include "support/TempDir.h"

namespace vx::test::startup {
namespace {

namespace fs = std::filesystem;
using ::testing::HasSubstr;
using ::testing::StartsWith;

constexpr const char* kStartLine = "Starting vault accessor version 0.6.0~3";
constexpr const char* kTopLevelPrefix = "Top level exception, exiting: ";
constexpr const char* kStoppedLine = "VaultAccessor has stopped.";
constexpr const char* kIdentityError = "Failed to read agent identity: ";
// Enough for a slow, shared machine; a hang shows up as the time limit instead.
constexpr double kPromptEndSeconds = 20.0;

// "%d{yyyy-MM-dd HH:mm:ss.SSS}{GMT} %-5p [%.8t] [%c{4}] %X %m%n"
const std::regex kLayout(
    R"(\d{4}-\d\d-\d\d \d\d:\d\d:\d\d\.\d{3} (DEBUG|INFO |WARN |ERROR|FATAL) \[[^\] ]{1,8}\] \[[^\]]+\] \{.*\} .*)");

bool namespacesPermitted() {
    static const bool permitted = [] {
        const pid_t child = fork();
        if (child == 0) {
            _exit(unshare(CLONE_NEWNET | CLONE_NEWNS) == 0 ? 0 : 1);
        }
        int status = 0;
        return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) &&
               WEXITSTATUS(status) == 0;
    }();
    return permitted;
}

std::vector<std::string> readLines(const std::string& path) {
    std::vector<std::string> lines;
    std::ifstream in(path);
    for (std::string line; std::getline(in, line);) {
        lines.push_back(line);
    }
    return lines;
}

std::vector<std::string> linesWith(const std::vector<std::string>& lines, const std::string& text) {
    std::vector<std::string> found;
    std::copy_if(lines.begin(), lines.end(), std::back_inserter(found),
                 [&](const std::string& line) { return line.find(text) != std::string::npos; });
    return found;
}

std::string joined(const std::vector<std::string>& lines) {
    std::string text;
    for (const auto& line : lines) {
        text += line + "\n";
    }
    return text;
}

bool contains(const crash::Arguments& call, const std::string& argument) {
    return std::find(call.begin(), call.end(), argument) != call.end();
}

class ServiceStartupTest : public ::testing::Test {
protected:
    void SetUp() override {
        if (!namespacesPermitted()) {
            GTEST_SKIP() << "unshare(CLONE_NEWNET | CLONE_NEWNS) is not permitted here; the service "
                            "runs only in private namespaces (run as root)";
        }
    }

    void TearDown() override {
        // Dumps carry the service's environment, and with it this run's marker.
        for (const auto& dump : crash::dumpsMentioning(marker())) {
            fs::remove(dump);
        }
    }

    std::string dir() const { return work.path().string(); }
    std::string logDir() const { return dir() + "/logs"; }
    std::string mainLog() const { return logDir() + "/vx-vault-accessor.log"; }
    std::string warnLog() const { return logDir() + "/vx-vault-accessor.warn"; }
    std::string marker() const { return "VX_STARTUP_TEST_RUN=" + dir(); }
    std::vector<std::string> baseArguments() const { return {"-C", "", "-L", logDir()}; }

    ServiceRun run(ServiceSetup setup) const {
        setup.workDirectory = dir();
        setup.environment.push_back(marker());
        ServiceRun result = runService(setup);
        EXPECT_EQ(result.setupError, "");
        EXPECT_FALSE(result.timedOut) << "the service was killed after " << result.seconds << " s\n"
                                      << result.err;
        return result;
    }

    std::vector<crash::Arguments> uploaderCalls() const { return crash::readCalls(dir()); }

    // The common part of every crash report of this service.
    void expectReportOfThisService(const crash::Arguments& call) const {
        ASSERT_GE(call.size(), 10U);
        EXPECT_EQ(call[0], "vx-minidump-uploader");
        EXPECT_EQ(call[1], "-pvaultaccessor");
        EXPECT_EQ(call[2], "-kvx-vault-accessor");
        EXPECT_EQ(call[3], "-v0.6.0~3");
        EXPECT_EQ(call[4], "-b");
        EXPECT_TRUE(std::regex_match(call[5], std::regex("-agit=[0-9a-f]{40}"))) << call[5];
        const std::string dump = call[call.size() - 4];
        EXPECT_THAT(dump, StartsWith("/tmp/"));
        EXPECT_TRUE(fs::is_regular_file(dump)) << dump;
        // The marker is what finds this run's dumps, and proves their absence elsewhere.
        EXPECT_THAT(crash::dumpsMentioning(marker()), ::testing::Contains(fs::path(dump).lexically_normal().string()));
        EXPECT_EQ(call[call.size() - 3], "http://127.0.0.1:8778/crashes");
        EXPECT_EQ(call[call.size() - 2], mainLog());
        EXPECT_EQ(call[call.size() - 1], "DEFAULT");
        fs::remove(dump);
    }

    TempDir work{"vx-startup"};
};

TEST_F(ServiceStartupTest, TakenPortEndsThroughTeardownWithCrashReport) {
    ServiceSetup setup;
    setup.arguments = baseArguments();
    setup.identityJson = R"({"agent_id": 1234567})";
    setup.holdServicePort = true;
    const ServiceRun result = run(setup);

    ASSERT_TRUE(WIFEXITED(result.waitStatus)) << result.waitStatus;
    EXPECT_EQ(WEXITSTATUS(result.waitStatus), 1);
    EXPECT_LT(result.seconds, kPromptEndSeconds);

    const auto lines = readLines(mainLog());
    EXPECT_EQ(linesWith(lines, kStartLine).size(), 1U) << joined(lines);
    const auto fatal = linesWith(lines, kTopLevelPrefix);
    ASSERT_EQ(fatal.size(), 1U) << joined(lines);
    EXPECT_THAT(fatal[0], HasSubstr("FATAL [")) << fatal[0];
    EXPECT_THAT(fatal[0], HasSubstr("[vx.vault.main]"));
    EXPECT_THAT(fatal[0], HasSubstr("127.0.0.1 port 730"));
    EXPECT_THAT(fatal[0], HasSubstr("Address already in use"));
    EXPECT_THAT(result.err, HasSubstr(kTopLevelPrefix));
    ASSERT_FALSE(lines.empty());
    EXPECT_THAT(lines.back(), HasSubstr(kStoppedLine)) << joined(lines);
    EXPECT_EQ(linesWith(readLines(warnLog()), kTopLevelPrefix).size(), 1U);

#if defined(VX_NO_CRASH_HANDLER)
    return;  // sanitizer build: no crash handler, so no report to look at
#endif
    const auto calls = uploaderCalls();
    ASSERT_EQ(calls.size(), 1U);
    const auto& call = calls[0];
    expectReportOfThisService(call);
    EXPECT_TRUE(contains(call, "-aExceptionType=UnhandledException"));
    const std::string reason = fatal[0].substr(fatal[0].find(kTopLevelPrefix) + std::string(kTopLevelPrefix).size());
    // Each argument of the crash handler is cut to 255 bytes.
    EXPECT_TRUE(contains(call, ("-aExceptionMessage=" + reason).substr(0, 255))) << reason;
    EXPECT_TRUE(contains(call, "-aagentId=1234567"));
}

TEST_F(ServiceStartupTest, StartsOnceAndKeepsItsOwnLogConfiguration) {
    // Configuration that log4cxx would pick up on its own, from the working directory and
    // from its environment variable, each with a visible marker and a file of its own.
    const std::string stray =
        "log4j.rootLogger=DEBUG, stray, file\n"
        "log4j.appender.stray=org.apache.log4j.ConsoleAppender\n"
        "log4j.appender.stray.layout=org.apache.log4j.PatternLayout\n"
        "log4j.appender.stray.layout.ConversionPattern=STRAY %m%n\n"
        "log4j.appender.file=org.apache.log4j.FileAppender\n"
        "log4j.appender.file.layout=org.apache.log4j.PatternLayout\n"
        "log4j.appender.file.File=";
    work.writeFile("log4cxx.properties", stray + dir() + "/stray-cwd.log\n");
    const std::string fromEnvironment = work.writeFile("env.properties", stray + dir() + "/stray-env.log\n");

    ServiceSetup setup;
    setup.arguments = baseArguments();
    setup.arguments.insert(setup.arguments.end(), {"--log-file-size", "0"});
    setup.environment = {"LOG4CXX_CONFIGURATION=" + fromEnvironment, "log4j.configuration=" + fromEnvironment};
    setup.then = Then::RequestThenTerminate;
    const ServiceRun result = run(setup);

    ASSERT_TRUE(WIFSIGNALED(result.waitStatus)) << result.waitStatus << "\n" << result.err;
    EXPECT_EQ(WTERMSIG(result.waitStatus), SIGTERM);
    EXPECT_THAT(result.response, StartsWith("HTTP/1.1 "));
    EXPECT_THAT(result.response, HasSubstr("application/json"));

    const auto lines = readLines(mainLog());
    const auto started = linesWith(lines, kStartLine);
    ASSERT_EQ(started.size(), 1U) << joined(lines);
    EXPECT_THAT(started[0], HasSubstr("INFO  ["));
    EXPECT_THAT(started[0], HasSubstr(std::string("[vx.vault.main] {} ") + kStartLine));
    for (const auto& line : lines) {
        EXPECT_TRUE(std::regex_match(line, kLayout)) << line;
    }
    EXPECT_TRUE(linesWith(lines, kIdentityError).empty()) << "no identity file is no error";
    EXPECT_TRUE(linesWith(lines, kTopLevelPrefix).empty());

    // The size 0 is clamped to 1 MB, reported once on the entry's logger, in both logs.
    const auto warnings = linesWith(lines, "WARN  [");
    ASSERT_EQ(warnings.size(), 1U) << joined(lines);
    EXPECT_THAT(warnings[0], HasSubstr("[vx.vault.main]"));
    EXPECT_TRUE(std::regex_search(warnings[0], std::regex(R"(\b0 MB\b.*\b1 MB\b)"))) << warnings[0];
    EXPECT_EQ(readLines(warnLog()), warnings);

    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "");
    EXPECT_FALSE(fs::exists(dir() + "/stray-cwd.log"));
    EXPECT_FALSE(fs::exists(dir() + "/stray-env.log"));
    std::vector<std::string> logFiles;
    for (const auto& entry : fs::directory_iterator(logDir())) {
        logFiles.push_back(entry.path().filename().string());
    }
    std::sort(logFiles.begin(), logFiles.end());
    EXPECT_EQ(logFiles, (std::vector<std::string>{"vx-vault-accessor.log", "vx-vault-accessor.warn"}));
    EXPECT_TRUE(uploaderCalls().empty());
}

TEST_F(ServiceStartupTest, CrashSignalWritesDumpAndReportsHowTheUploaderEnded) {
#if defined(VX_NO_CRASH_HANDLER)
    GTEST_SKIP() << "the sanitizers own the fatal signals in this build";
#endif
    work.writeFile("behaviour", "3\n");  // the recording uploader then fails with status 3
    ServiceSetup setup;
    setup.arguments = baseArguments();
    setup.then = Then::Crash;
    const ServiceRun result = run(setup);

    ASSERT_TRUE(WIFSIGNALED(result.waitStatus)) << result.waitStatus << "\n" << result.err;
    EXPECT_EQ(WTERMSIG(result.waitStatus), SIGSEGV);
    const auto calls = uploaderCalls();
    ASSERT_EQ(calls.size(), 1U);
    const auto& call = calls[0];
    EXPECT_TRUE(crash::minidumpReadable(call[call.size() - 4], SIGSEGV));
    expectReportOfThisService(call);
    EXPECT_TRUE(contains(call, "-aagentId=unknown")) << "no identity file";
    EXPECT_FALSE(std::any_of(call.begin(), call.end(),
                             [](const std::string& argument) { return argument.rfind("-aException", 0) == 0; }));

    const auto lines = readLines(mainLog());
    EXPECT_EQ(linesWith(lines, "Failed to run minidump uploader, exit code 3").size(), 1U) << joined(lines);
    EXPECT_TRUE(linesWith(lines, kStoppedLine).empty()) << "a crash is no teardown";
}

TEST_F(ServiceStartupTest, CrashSignalWithCrashReportsOffLeavesNoDump) {
#if defined(VX_NO_CRASH_HANDLER)
    GTEST_SKIP() << "the sanitizers own the fatal signals in this build";
#endif
    ServiceSetup setup;
    setup.arguments = baseArguments();
    setup.arguments.insert(setup.arguments.end(), {"--crash-reports", "false"});
    setup.identityJson = "agent_id: 1234567";  // not JSON: logged, start-up goes on
    setup.then = Then::Crash;
    const ServiceRun result = run(setup);

    ASSERT_TRUE(WIFSIGNALED(result.waitStatus)) << result.waitStatus << "\n" << result.err;
    EXPECT_EQ(WTERMSIG(result.waitStatus), SIGSEGV);
    EXPECT_TRUE(uploaderCalls().empty());
    EXPECT_TRUE(crash::dumpsMentioning(marker()).empty());

    const auto identityErrors = linesWith(readLines(warnLog()), kIdentityError);
    ASSERT_EQ(identityErrors.size(), 1U);
    EXPECT_THAT(identityErrors[0], HasSubstr("ERROR ["));
    EXPECT_EQ(linesWith(readLines(mainLog()), kStartLine).size(), 1U);
}

TEST_F(ServiceStartupTest, UnopenableLogEndsStartUp) {
    const std::string blocker = work.writeFile("blocker", "a regular file\n");
    fs::create_directories(dir() + "/taken/vx-vault-accessor.warn");
    struct Row {
        std::string logDirectory;
        std::string namedInReason;
    };
    const Row rows[] = {
        {blocker + "/logs", blocker + "/logs"},                           // cannot be created
        {dir() + "/taken", dir() + "/taken/vx-vault-accessor.warn"},  // a directory in the file's place
    };
    for (const Row& row : rows) {
        ServiceSetup setup;
        setup.arguments = {"-C", "", "-L", row.logDirectory};
        const ServiceRun result = run(setup);

        ASSERT_TRUE(WIFEXITED(result.waitStatus)) << result.waitStatus;
        EXPECT_EQ(WEXITSTATUS(result.waitStatus), 1) << row.logDirectory;
        // log4cxx reports its own failure to open the file first; the entry adds one line.
        std::vector<std::string> errLines;
        std::istringstream err(result.err);
        for (std::string line; std::getline(err, line);) {
            errLines.push_back(line);
        }
        const auto failed = linesWith(errLines, "Start-up failed: ");
        ASSERT_EQ(failed.size(), 1U) << result.err;
        EXPECT_EQ(errLines.back(), failed[0]);
        EXPECT_THAT(failed[0], StartsWith("Start-up failed: "));
        EXPECT_THAT(failed[0], HasSubstr(row.namedInReason)) << "the reason names the place";
        EXPECT_EQ(result.out, "");
        EXPECT_TRUE(uploaderCalls().empty());
    }
}

TEST_F(ServiceStartupTest, OptionErrorsEndBeforeAnythingIsCreated) {
    struct Row {
        std::vector<std::string> arguments;
        int status;
        std::string errPrefix;
    };
    const std::string missingConfig = dir() + "/missing.cfg";
    const Row rows[] = {
        {{"-C", "", "-L", logDir(), "--log-file-size", "ten"}, 64, "Error with args: "},
        {{"-C", missingConfig, "-L", logDir()}, 70, "Can't open config file: " + missingConfig + "\n"},
    };
    for (const Row& row : rows) {
        ServiceSetup setup;
        setup.arguments = row.arguments;
        const ServiceRun result = run(setup);
        ASSERT_TRUE(WIFEXITED(result.waitStatus)) << row.errPrefix;
        EXPECT_EQ(WEXITSTATUS(result.waitStatus), row.status);
        EXPECT_THAT(result.err, StartsWith(row.errPrefix));
        EXPECT_FALSE(fs::exists(logDir())) << row.errPrefix;
    }
}

}  // namespace
}  // namespace vx::test::startup
