#include <gtest/gtest.h>
#include <sys/wait.h>

#include <filesystem>
#include <map>
#include <string>

#include "crash/CrashHarness.h"
#include "support/RefusingPort.h"
#include "support/TempDir.h"
#include "support/TestHttpServer.h"

namespace vx::test::crash {
namespace {

// Dump bytes with a NUL and CR LF inside, as a real minidump has.
const std::string kDumpBytes = std::string("MDMP\0\x01\r\n--x", 12) + std::string(5000, '\xAB');

// name -> content of every part of a multipart/form-data body.
std::map<std::string, std::string> formParts(const RecordedRequest& request) {
    std::map<std::string, std::string> parts;
    const auto contentType = request.header("Content-Type").value_or("");
    const auto boundaryAt = contentType.find("boundary=");
    if (contentType.rfind("multipart/form-data", 0) != 0 || boundaryAt == std::string::npos) {
        return parts;
    }
    const std::string delimiter = "\r\n--" + contentType.substr(boundaryAt + 9);
    const std::string body = "\r\n" + request.body;
    size_t at = body.find(delimiter);
    while (at != std::string::npos) {
        const size_t headersStart = at + delimiter.size() + 2;
        const size_t headersEnd = body.find("\r\n\r\n", headersStart);
        const size_t next = body.find(delimiter, headersStart);
        if (headersEnd == std::string::npos || next == std::string::npos || headersEnd > next) {
            break;
        }
        const std::string headers = body.substr(headersStart, headersEnd - headersStart);
        const size_t nameAt = headers.find("name=\"");
        if (nameAt != std::string::npos) {
            const size_t nameEnd = headers.find('"', nameAt + 6);
            parts[headers.substr(nameAt + 6, nameEnd - nameAt - 6)] =
                body.substr(headersEnd + 4, next - headersEnd - 4);
        }
        at = next;
    }
    return parts;
}

class MinidumpUploaderTest : public ::testing::Test {
protected:
    int upload(const Arguments& arguments) { return runIn(dir_.path().string(), MINIDUMP_UPLOADER, arguments); }

    Arguments commandLine(const std::string& dump, const std::string& url) const {
        return {"-pvaultaccessor", "-kvx-vault-accessor", "-v0.6.0~3", "-b", "-agit=abc", "-6",
                "-aExceptionMessage=a=b", "-aCrashTime=1700000000", "-xX1",
                dump, url, "/var/log/vx-vault-accessor.log", "DEFAULT"};
    }

    static int exitStatus(int status) { return WIFEXITED(status) ? WEXITSTATUS(status) : -1; }

    vx::test::TempDir dir_{"vx-uploader"};
    std::string dump_ = dir_.writeFile("crash.dmp", kDumpBytes);
};

TEST_F(MinidumpUploaderTest, PostsDumpAndFieldsAsMultipartForm) {
    TestHttpServer server;
    server.respond({201, {}, "stored"});
    ASSERT_EQ(exitStatus(upload(commandLine(dump_, server.url("/crashes")))), 0);

    const auto requests = server.requests();
    ASSERT_EQ(requests.size(), 1U);
    EXPECT_EQ(requests[0].method, "POST");
    EXPECT_EQ(requests[0].target, "/crashes");
    const std::map<std::string, std::string> expected = {
        {"program", "vaultaccessor"}, {"product", "vx-vault-accessor"}, {"version", "0.6.0~3"},
        {"build", ""}, {"git", "abc"}, {"ExceptionMessage", "a=b"}, {"CrashTime", "1700000000"},
        {"opt_x", "X1"}, {"security_mode", "DEFAULT"}, {"upload_file_minidump", kDumpBytes}};
    EXPECT_EQ(formParts(requests[0]), expected);
    // The tool deletes nothing.
    EXPECT_TRUE(std::filesystem::exists(dump_));
}

struct FailureCase {
    const char* name;
    enum class Target { Server, RefusedPort } target;
    int answer;
    bool dumpPresent;
    int expectedStatus;
    size_t expectedRequests;
};

void PrintTo(const FailureCase& failure, std::ostream* out) {
    *out << failure.name;
}

class UploadFailureTest : public MinidumpUploaderTest, public ::testing::WithParamInterface<FailureCase> {};

TEST_P(UploadFailureTest, EndsWithItsOwnStatus) {
    const auto& param = GetParam();
    TestHttpServer server;
    server.respond({param.answer, {}, ""});
    RefusingPort refused;
    const std::string url = param.target == FailureCase::Target::Server
                                ? server.url("/crashes")
                                : "http://127.0.0.1:" + std::to_string(refused.port()) + "/crashes";
    const std::string dump = param.dumpPresent ? dump_ : (dir_.path() / "missing.dmp").string();
    EXPECT_EQ(exitStatus(upload(commandLine(dump, url))), param.expectedStatus);
    EXPECT_EQ(server.requests().size(), param.expectedRequests);
}

INSTANTIATE_TEST_SUITE_P(
    MinidumpUploader, UploadFailureTest,
    ::testing::Values(FailureCase{"ServerError", FailureCase::Target::Server, 500, true, 76, 1},
                      FailureCase{"NotFound", FailureCase::Target::Server, 404, true, 76, 1},
                      FailureCase{"Redirect", FailureCase::Target::Server, 302, true, 76, 1},
                      FailureCase{"MissingDump", FailureCase::Target::Server, 200, false, 66, 0},
                      FailureCase{"ConnectionRefused", FailureCase::Target::RefusedPort, 200, true, 75, 0}),
    [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST_F(MinidumpUploaderTest, MalformedCommandLinesAreUsageErrors) {
    const std::string url = "http://127.0.0.1:9/crashes";
    const std::vector<Arguments> malformed = {
        {},
        {dump_, url, "/var/log/x.log"},                                 // a positional missing
        {dump_, url, "/var/log/x.log", "DEFAULT", "extra"},             // one too many
        {"-z1", dump_, url, "/var/log/x.log", "DEFAULT"},               // unknown flag
        {"-anovalue", dump_, url, "/var/log/x.log", "DEFAULT"},         // annotation without '='
        {"-a=value", dump_, url, "/var/log/x.log", "DEFAULT"},          // annotation without key
        {"", url, "/var/log/x.log", "DEFAULT"},                         // empty dump path
    };
    for (const auto& arguments : malformed) {
        EXPECT_EQ(exitStatus(upload(arguments)), 64) << ::testing::PrintToString(arguments);
    }
}

}  // namespace
}  // namespace vx::test::crash
