#include <gtest/gtest.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <csignal>
#include <ctime>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "crash/CrashHarness.h"
#include "support/TempDir.h"

namespace vx::test::crash {
namespace {

namespace fs = std::filesystem;

const std::string kUploaderName = "vx-minidump-uploader";
const std::string kRevision = "0123456789abcdef0123456789abcdef01234567";
const std::string kUploadUrl = "http://127.0.0.1:8778/crashes";
const std::string kLogPath = "/var/log/vx-agent/vx-vault-accessor.log";
const Arguments kBase = {kUploaderName, "-pvaultaccessor", "-kvx-vault-accessor", "-v0.6.0~3", "-b",
                         "-agit=" + kRevision};

Arguments concat(Arguments first, const Arguments& second) {
    first.insert(first.end(), second.begin(), second.end());
    return first;
}

// Runs crash_test_app in a private directory where the recording stand-in is what the
// manager finds under the bare uploader name.
class ExceptionManagerCrashTest : public ::testing::Test {
protected:
    void SetUp() override {
#ifdef VX_NO_CRASH_HANDLER
        GTEST_SKIP() << "built without the Breakpad handler (sanitizer build)";
#endif
        for (const char* directory : {"/usr/local/bin/", "/usr/bin/"}) {
            struct stat status {};
            if (stat((directory + kUploaderName).c_str(), &status) == 0) {
                GTEST_SKIP() << "a real " << kUploaderName << " is installed in " << directory
                             << "; the crash handler would start it instead of the recorder";
            }
        }
        fs::copy_file(RECORDING_UPLOADER, file(kUploaderName));
        fs::permissions(file(kUploaderName), fs::perms::owner_all);
    }

    void TearDown() override {
        std::error_code ignored;
        for (const auto& call : readCalls(dirPath())) {
            if (!call.empty() && call.size() >= 4 && call[call.size() - 4].rfind("/tmp/", 0) == 0) {
                fs::remove(call[call.size() - 4], ignored);
            }
        }
        for (const auto& dump : dumpsMentioning(dirPath())) {
            fs::remove(dump, ignored);
        }
    }

    void setUploaderBehaviour(const std::string& behaviour) {
        std::ofstream(file("behaviour")) << behaviour << '\n';
    }

    int run(const std::string& reports, const std::string& ipv6, const Arguments& steps) {
        return runIn(dirPath(), CRASH_TEST_APP, concat({reports, ipv6, logPath()}, steps));
    }

    std::string logPath() const { return file("app.log"); }
    std::string file(const std::string& name) const { return (dir_.path() / name).string(); }
    std::string dirPath() const { return dir_.path().string(); }
    std::vector<Arguments> calls() const { return readCalls(dirPath()); }

    // Checks everything from "CrashTime" on: optional tail, then dump path, URL, log file
    // path and security mode. Returns the CrashTime value.
    static long long expectDumpTail(const Arguments& call, size_t crashTimeIndex, const Arguments& afterCrashTime,
                                    const std::string& uploadUrl = kUploadUrl) {
        EXPECT_EQ(call.size(), crashTimeIndex + 1 + afterCrashTime.size() + 4);
        if (call.size() != crashTimeIndex + 1 + afterCrashTime.size() + 4) {
            return -1;
        }
        const std::string crashTimePrefix = "-aCrashTime=";
        const std::string& crashTime = call[crashTimeIndex];
        const bool wellFormed = crashTime.rfind(crashTimePrefix, 0) == 0 &&
                                crashTime.size() > crashTimePrefix.size() &&
                                crashTime.find_first_not_of("0123456789", crashTimePrefix.size()) == std::string::npos;
        EXPECT_TRUE(wellFormed) << crashTime;
        const auto afterBegin = call.begin() + static_cast<long>(crashTimeIndex) + 1;
        EXPECT_EQ(Arguments(afterBegin, afterBegin + static_cast<long>(afterCrashTime.size())), afterCrashTime);
        const auto& dumpPath = call[call.size() - 4];
        EXPECT_EQ(dumpPath.rfind("/tmp/", 0), 0U) << dumpPath;
        EXPECT_EQ(fs::path(dumpPath).extension(), ".dmp");
        EXPECT_EQ(Arguments(call.end() - 3, call.end()), (Arguments{uploadUrl, kLogPath, "DEFAULT"}));
        return wellFormed ? std::stoll(crashTime.substr(crashTimePrefix.size())) : -1;
    }

    vx::test::TempDir dir_{"vx-crash"};
};

struct CommandLineCase {
    const char* name;
    const char* reports;
    const char* ipv6;
    Arguments steps;
    Arguments beforeCrashTime;  // after the base arguments
    Arguments afterCrashTime;   // before the dump path
    std::string uploadUrl = kUploadUrl;
};

class CommandLineTest : public ExceptionManagerCrashTest,
                        public ::testing::WithParamInterface<CommandLineCase> {};

TEST_P(CommandLineTest, WriteMinidumpHandsTheToolItsCommandLine) {
    const auto& param = GetParam();
    const auto before = std::time(nullptr);
    const int status = run(param.reports, param.ipv6, concat(param.steps, {"dump"}));
    const auto after = std::time(nullptr);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 1U);
    const auto& call = recorded[0];
    const auto prefix = concat(kBase, param.beforeCrashTime);
    ASSERT_GE(call.size(), prefix.size());
    EXPECT_EQ(Arguments(call.begin(), call.begin() + static_cast<long>(prefix.size())), prefix);
    const long long crashTime = expectDumpTail(call, prefix.size(), param.afterCrashTime, param.uploadUrl);
    EXPECT_GE(crashTime, before);
    EXPECT_LE(crashTime, after);
    EXPECT_TRUE(fs::exists(call[call.size() - 4]));
}

const std::string kLongMessage(300, 'x');

INSTANTIATE_TEST_SUITE_P(
    ExceptionManager, CommandLineTest,
    ::testing::Values(
        // What the entry sends after an unhandled exception, even with crash reports off.
        CommandLineCase{"UnhandledExceptionWithReportsOff", "off", "noipv6",
                        {"agent=unknown", "annotate=ExceptionType=UnhandledException",
                         "annotate=ExceptionMessage=boom"},
                        {"-aExceptionType=UnhandledException", "-aExceptionMessage=boom"},
                        {"-aagentId=unknown"}},
        CommandLineCase{"Ipv6DirectlyAfterGit", "on", "ipv6", {"annotate=k=v"}, {"-6", "-ak=v"}, {}},
        CommandLineCase{"EmptyAgentIdSendsNone", "on", "noipv6", {"agent="}, {}, {}},
        CommandLineCase{"LongArgumentCutTo255Bytes", "on", "noipv6",
                        {"annotate=ExceptionMessage=" + kLongMessage},
                        {("-aExceptionMessage=" + kLongMessage).substr(0, 255)}, {}},
        CommandLineCase{"OptionalArgumentsInOrder", "on", "noipv6",
                        {"agent=42", "optional=X1,U1,P1,T1", "arg=--extra"},
                        {"--extra"}, {"-aagentId=42", "-xX1", "-uU1", "-PP1", "-tT1"}},
        CommandLineCase{"EmptyOptionalValuesSkipped", "on", "noipv6", {"optional=,U1,,T1"}, {}, {"-uU1", "-tT1"}},
        CommandLineCase{"EmptyUploadUrlIgnored", "on", "noipv6",
                        {"url=http://127.0.0.2:9/crashes", "url="}, {}, {}, "http://127.0.0.2:9/crashes"},
        // MDC entries in key order, whatever order they were put in.
        CommandLineCase{"AnnotateAbort", "on", "noipv6", {"mdc=zeta=1", "mdc=alpha=2", "abort=boom"},
                        {"-asentry[logger]=vx.test.crash", "-asentry[message][formatted]=boom",
                         "-asentry[tags][cause]=VX_ABORT", "-asentry[tags][alpha]=2",
                         "-asentry[tags][zeta]=1", "-aextra=1"},
                        {}}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(ExceptionManagerCrashTest, SegvWithReportsOnDumpsUploadsAndDiesBySignal) {
    const int status = run("on", "noipv6", {"agent=1234567", "segv"});
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);

    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 1U);
    const auto& call = recorded[0];
    ASSERT_GE(call.size(), kBase.size());
    EXPECT_EQ(Arguments(call.begin(), call.begin() + static_cast<long>(kBase.size())), kBase);
    expectDumpTail(call, kBase.size(), {"-aagentId=1234567"});
    EXPECT_TRUE(minidumpReadable(call[call.size() - 4], SIGSEGV));
}

TEST_F(ExceptionManagerCrashTest, SegvWithReportsOffWritesNothingAndDiesBySignal) {
    const int status = run("off", "noipv6", {"segv"});
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);
    EXPECT_TRUE(calls().empty());
    EXPECT_TRUE(dumpsMentioning(dirPath()).empty());
}

TEST_F(ExceptionManagerCrashTest, TwoDumpsAreSeparateReports) {
    const int status = run("on", "noipv6", {"annotate=first=1", "dump", "sleep", "dump"});
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 2U);
    ASSERT_GT(recorded[0].size(), kBase.size());
    EXPECT_EQ(recorded[0][kBase.size()], "-afirst=1");
    const long long firstTime = expectDumpTail(recorded[0], kBase.size() + 1, {});
    const long long secondTime = expectDumpTail(recorded[1], kBase.size(), {});
    EXPECT_GT(secondTime, firstTime);
    const auto& firstDump = recorded[0][recorded[0].size() - 4];
    const auto& secondDump = recorded[1][recorded[1].size() - 4];
    EXPECT_NE(firstDump, secondDump);
    EXPECT_TRUE(minidumpReadable(firstDump));
    EXPECT_TRUE(minidumpReadable(secondDump));
}

TEST_F(ExceptionManagerCrashTest, SurplusArgumentsAreDropped) {
    Arguments steps;
    for (int index = 0; index < 30; ++index) {
        steps.push_back("arg=a" + std::to_string(index));
    }
    steps.push_back("dump");
    const int status = run("on", "noipv6", steps);
    ASSERT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "status " << status;

    const auto recorded = calls();
    ASSERT_EQ(recorded.size(), 1U);
    Arguments expected = kBase;
    for (int index = 0; expected.size() < 31; ++index) {
        expected.push_back("a" + std::to_string(index));
    }
    EXPECT_EQ(recorded[0], expected);
}

void PrintTo(const CommandLineCase& testCase, std::ostream* out) {
    *out << testCase.name;
}

struct UploaderEndCase {
    const char* name;
    const char* behaviour;  // nullptr: no uploader where the manager looks
    const char* errorLine;  // nullptr: no ERROR line
};

void PrintTo(const UploaderEndCase& testCase, std::ostream* out) {
    *out << testCase.name;
}

class UploaderEndTest : public ExceptionManagerCrashTest,
                        public ::testing::WithParamInterface<UploaderEndCase> {};

TEST_P(UploaderEndTest, CrashLogsHowTheToolEndedAndProceeds) {
    const auto& param = GetParam();
    if (param.behaviour == nullptr) {
        fs::remove(file(kUploaderName));
    } else {
        setUploaderBehaviour(param.behaviour);
    }
    const int status = run("on", "noipv6", {"segv"});
    ASSERT_TRUE(WIFSIGNALED(status)) << "status " << status;
    EXPECT_EQ(WTERMSIG(status), SIGSEGV);

    const std::string log = readFile(logPath());
    if (param.errorLine == nullptr) {
        EXPECT_EQ(log.find("ERROR"), std::string::npos) << log;
    } else {
        EXPECT_EQ(log, std::string("ERROR ") + param.errorLine + "\n");
    }
}

INSTANTIATE_TEST_SUITE_P(
    ExceptionManager, UploaderEndTest,
    ::testing::Values(UploaderEndCase{"Success", "0", nullptr},
                      UploaderEndCase{"ExitStatus3", "3", "Failed to run minidump uploader, exit code 3"},
                      UploaderEndCase{"KilledBySignal", "kill", "Minidump uploader didn't exit in a proper way"},
                      UploaderEndCase{"NotFound", nullptr, "Failed to run minidump uploader, exit code 2"}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

}  // namespace
}  // namespace vx::test::crash
