#include <gtest/gtest.h>

#include <optional>
#include <string>

#include "AgentIdentity.h"
#include "support/TempDir.h"
#include "vault/LogCapture.h"

namespace vx::rc::vault_accessor {
namespace {

constexpr const char* kErrorPrefix = "Failed to read agent identity: ";

struct IdentityCase {
    const char* name;
    const char* content;
    const char* agentId;
    bool logsError;
};

// The identity file's content and what the agent identifier becomes.
const IdentityCase kCases[] = {
    {"Number", R"({"agent_id": 12345})", "12345", false},
    {"Negative", R"({"agent_id": -42})", "-42", false},
    {"LargestInt64", R"({"agent_id": 9223372036854775807})", "9223372036854775807", false},
    {"MissingMember", R"({"host": "a", "version": 3})", "0", false},
    {"EmptyObject", "{}", "0", false},
    {"NullMember", R"({"agent_id": null})", "0", false},
    {"NullRoot", "null", "0", false},
    {"True", R"({"agent_id": true})", "1", false},
    {"DigitString", R"({"agent_id": "12345"})", "unknown", true},
    {"ArrayRoot", "[12345]", "unknown", true},
    {"NumberRoot", "12345", "unknown", true},
    {"NotJson", "agent_id=12345", "unknown", true},
    {"Truncated", R"({"agent_id": 123)", "unknown", true},
    {"EmptyFile", "", "unknown", true},
    {"AboveInt64", R"({"agent_id": 9223372036854775808})", "unknown", true},
    {"FarOutOfRange", R"({"agent_id": 1e30})", "unknown", true},
};

class AgentIdentityTest : public ::testing::TestWithParam<IdentityCase> {};

TEST_P(AgentIdentityTest, ReadsAgentIdOrFallsBackToUnknown) {
    const IdentityCase& row = GetParam();
    vx::test::TempDir dir;
    const std::string path = dir.writeFile("identity.json", row.content);
    vx::test::LogCapture capture;

    EXPECT_EQ(readAgentId(path), row.agentId);

    const auto lines = capture.lines();
    if (!row.logsError) {
        EXPECT_TRUE(lines.empty()) << capture.allText();
        return;
    }
    ASSERT_EQ(lines.size(), 1U) << capture.allText();
    EXPECT_EQ(lines[0].logger, "vx.vault.main");
    EXPECT_EQ(lines[0].level, "ERROR");
    EXPECT_EQ(lines[0].message.rfind(kErrorPrefix, 0), 0U) << lines[0].message;
    EXPECT_GT(lines[0].message.size(), std::string(kErrorPrefix).size()) << "the reason is named";
}

INSTANTIATE_TEST_SUITE_P(Contents, AgentIdentityTest, ::testing::ValuesIn(kCases),
                         [](const auto& testInfo) { return std::string(testInfo.param.name); });

TEST(AgentIdentityFileTest, UnopenableFileIsUnknownWithoutALine) {
    vx::test::TempDir dir;
    const std::string regularFile = dir.writeFile("plain", "x");
    for (const std::string& path : {(dir.path() / "missing.json").string(), regularFile + "/identity.json"}) {
        vx::test::LogCapture capture;
        EXPECT_EQ(readAgentId(path), "unknown") << path;
        EXPECT_EQ(capture.allText(), "") << path;
    }
}

}  // namespace
}  // namespace vx::rc::vault_accessor
