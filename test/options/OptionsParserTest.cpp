#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <optional>
#include <stdexcept>
#include <sstream>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "OptionsParser.h"

namespace {

namespace fs = std::filesystem;
using vx::rc::vault_accessor::Options;
using vx::rc::vault_accessor::parseOptions;

// argv[0] as a service manager would pass it; the help repeats it verbatim.
constexpr const char* kProgramName = "/usr/sbin/vx-vault-accessor";
// Stands for the case's own directory in arguments, file texts and expectations.
constexpr const char* kDir = "{dir}";
// Stands for the whole help text, kept in data/help.golden.
constexpr const char* kHelp = "{help}";

struct File {
    std::string name;
    std::string text;
};

using Values = std::vector<std::pair<std::string, std::string>>;

struct Case {
    std::string name;
    std::vector<std::string> args;  // after the program name
    std::vector<File> files;        // written into the case's directory
    int status;
    std::string out;
    std::string err;
    Values values;  // option or derived value -> expected text; only checked on success
    // The default configuration file; none means the built-in one. Cases using the built-in
    // default always name a file explicitly, so the agent's real file is never read.
    std::optional<std::string> defaultConfigFile = std::string("{dir}/vx-agent.cfg");
};

// Names the case in failure messages instead of dumping its bytes.
void PrintTo(const Case& testCase, std::ostream* out) { *out << testCase.name; }

std::string replaceAll(std::string text, const std::string& from, const std::string& to) {
    for (auto at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size())) {
        text.replace(at, from.size(), to);
    }
    return text;
}

std::string readFile(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

std::string goldenHelp() { return readFile(fs::path(VX_OPTIONS_TEST_DATA) / "help.golden"); }

std::string valueText(const Options& options, const std::string& key) {
    const auto boolText = [](bool value) { return value ? "true" : "false"; };
    if (key == "config-file") return options.configFile();
    if (key == "prefix-dir") return options.prefixDir();
    if (key == "log-path") return options.logPath();
    if (key == "log-file-size") return std::to_string(options.logFileSize());
    if (key == "log-level") return options.logLevel();
    if (key == "module-num-log-files") return std::to_string(options.moduleNumLogFiles());
    if (key == "module-num-warn-log-files") return std::to_string(options.moduleNumWarnLogFiles());
    if (key == "agent-proxy-url") return options.agentProxyUrl();
    if (key == "security-mode") return options.securityMode();
    if (key == "crash-reports") return boolText(options.crashReports());
    if (key == "services-allow-ipv6") return boolText(options.servicesAllowIpv6());
    if (key == "log-directory") return options.logDirectory();
    if (key == "main-log-file") return options.mainLogFilePath();
    if (key == "crash-upload-url") return options.crashUploadUrl();
    ADD_FAILURE() << "no such value in the table: " << key;
    return {};
}

// A fresh directory per case, removed with everything in it.
class CaseDirectory {
public:
    CaseDirectory() {
        std::string pattern = (fs::temp_directory_path() / "vx-options-XXXXXX").string();
        if (mkdtemp(pattern.data()) == nullptr) {
            throw std::runtime_error("cannot create a temporary directory");
        }
        path_ = pattern;
    }
    ~CaseDirectory() {
        std::error_code ignored;
        fs::remove_all(path_, ignored);
    }
    CaseDirectory(const CaseDirectory&) = delete;
    CaseDirectory& operator=(const CaseDirectory&) = delete;

    const fs::path& path() const { return path_; }

private:
    fs::path path_;
};

struct ParseRun {
    std::optional<Options> options;
    int status;
    std::string out;
    std::string err;
};

ParseRun runParse(const std::vector<std::string>& args,
                  const std::optional<std::string>& defaultFile) {
    std::vector<const char*> argv{kProgramName};
    for (const auto& arg : args) {
        argv.push_back(arg.c_str());
    }
    argv.push_back(nullptr);
    std::ostringstream out;
    std::ostringstream err;
    const int argc = static_cast<int>(argv.size()) - 1;
    auto outcome = defaultFile ? parseOptions(argc, argv.data(), out, err, *defaultFile)
                               : parseOptions(argc, argv.data(), out, err);
    return {std::move(outcome.options), outcome.exitStatus, out.str(), err.str()};
}

const Values kAllDefaults{
    {"config-file", "{dir}/vx-agent.cfg"},
    {"prefix-dir", "/"},
    {"log-path", "/var/log"},
    {"log-file-size", "10"},
    {"log-level", "DEBUG"},
    {"module-num-log-files", "3"},
    {"module-num-warn-log-files", "2"},
    {"agent-proxy-url", "http://127.0.0.1:8778"},
    {"security-mode", "DEFAULT"},
    {"crash-reports", "true"},
    {"services-allow-ipv6", "false"},
    {"log-directory", "//var/log"},
    {"main-log-file", "//var/log/vx-vault-accessor.log"},
    {"crash-upload-url", "http://127.0.0.1:8778/crashes"},
};

const std::string kEveryOptionFile =
    "config-file = {dir}/ignored.cfg\n"
    "prefix-dir = /opt/agent\n"
    "log-path = /srv/logs\n"
    "log-file-size = 25\n"
    "log-level = TRACE\n"
    "module-num-log-files = 7\n"
    "module-num-warn-log-files = 4\n"
    "agent-proxy-url = http://127.0.0.2:9000\n"
    "security-mode = FIPS\n"
    "crash-reports = false\n"
    "services-allow-ipv6 = true\n";

const std::optional<std::string> kBuiltInDefault;

const std::vector<Case> kCases{
    // Defaults and sources.
    {"NoArgumentsNoFile", {}, {}, 0, "", "", kAllDefaults},
    {"EmptyFile", {}, {{"vx-agent.cfg", ""}}, 0, "", "", kAllDefaults},
    {"FileSetsEveryOption", {}, {{"vx-agent.cfg", kEveryOptionFile}}, 0, "", "",
     {{"prefix-dir", "/opt/agent"}, {"log-path", "/srv/logs"}, {"log-file-size", "25"},
      {"log-level", "TRACE"}, {"module-num-log-files", "7"}, {"module-num-warn-log-files", "4"},
      {"agent-proxy-url", "http://127.0.0.2:9000"}, {"security-mode", "FIPS"},
      {"crash-reports", "false"}, {"services-allow-ipv6", "true"}, {"log-directory", "/srv/logs"},
      {"main-log-file", "/srv/logs/vx-vault-accessor.log"},
      {"crash-upload-url", "http://127.0.0.2:9000/crashes"}}},
    {"CommandLineSetsEveryOption",
     {"-C", "{dir}/explicit.cfg", "--prefix-dir", "/opt/agent", "-L/srv/logs",
      "--log-file-size=25", "--log-level", "TRACE", "--module-num-log-files", "7",
      "--module-num-warn-log-files=4", "--agent-proxy-url", "http://127.0.0.2:9000",
      "--security-mode", "FEDRAMP", "--crash-reports", "false", "--services-allow-ipv6", "true"},
     {{"explicit.cfg", ""}}, 0, "", "",
     {{"config-file", "{dir}/explicit.cfg"}, {"prefix-dir", "/opt/agent"},
      {"log-path", "/srv/logs"},
      {"log-file-size", "25"}, {"log-level", "TRACE"}, {"module-num-log-files", "7"},
      {"module-num-warn-log-files", "4"}, {"agent-proxy-url", "http://127.0.0.2:9000"},
      {"security-mode", "FEDRAMP"}, {"crash-reports", "false"}, {"services-allow-ipv6", "true"},
      {"log-directory", "/srv/logs"}, {"crash-upload-url", "http://127.0.0.2:9000/crashes"}}},
    {"CommandLineWinsOverFile", {"--log-level", "INFO", "--log-file-size", "30"},
     {{"vx-agent.cfg", "log-level = TRACE\nlog-file-size = 20\nsecurity-mode = FIPS\n"}}, 0, "", "",
     {{"log-level", "INFO"}, {"log-file-size", "30"}, {"security-mode", "FIPS"},
      {"module-num-log-files", "3"}}},
    {"ExplicitFileReplacesDefaultFile", {"--config-file", "{dir}/other.cfg"},
     {{"vx-agent.cfg", "log-level = TRACE\n"}, {"other.cfg", "security-mode = FIPS\n"}}, 0, "", "",
     {{"config-file", "{dir}/other.cfg"}, {"log-level", "DEBUG"}, {"security-mode", "FIPS"}}},
    {"ConfigFileKeyInFileIsNotFollowed", {},
     {{"vx-agent.cfg", "config-file = {dir}/other.cfg\n"}, {"other.cfg", "log-level = TRACE\n"}},
     0, "", "", {{"log-level", "DEBUG"}}},
    {"EmptyConfigFileValueReadsNoFile", {"--config-file", ""},
     {{"vx-agent.cfg", "log-level = TRACE\n"}}, 0, "", "",
     {{"config-file", ""}, {"log-level", "DEBUG"}}},
    {"EmptyShortConfigFileValueReadsNoFile", {"-C", ""},
     {{"vx-agent.cfg", "log-level = TRACE\n"}}, 0, "", "", {{"log-level", "DEBUG"}}},

    // Log directory and crash upload URL.
    {"PrefixAlone", {"--prefix-dir", "/opt/agent"}, {}, 0, "", "",
     {{"log-directory", "/opt/agent/var/log"},
      {"main-log-file", "/opt/agent/var/log/vx-vault-accessor.log"}}},
    {"PrefixWithTrailingSlashKeepsBothSlashes", {"--prefix-dir=/opt/agent/"}, {}, 0, "", "",
     {{"log-directory", "/opt/agent//var/log"},
      {"main-log-file", "/opt/agent//var/log/vx-vault-accessor.log"}}},
    {"EmptyPrefix", {"--prefix-dir", ""}, {}, 0, "", "", {{"log-directory", "/var/log"}}},
    {"EmptyPrefixInFile", {}, {{"vx-agent.cfg", "prefix-dir =\n"}}, 0, "", "",
     {{"log-directory", "/var/log"}}},
    {"LogPathFromFileIgnoresPrefix", {"--prefix-dir", "/opt/agent"},
     {{"vx-agent.cfg", "log-path = /srv/logs\n"}}, 0, "", "", {{"log-directory", "/srv/logs"}}},
    {"LogPathGivenAsDefaultTextStillIgnoresPrefix",
     {"--prefix-dir", "/opt/agent", "-L", "/var/log"},
     {}, 0, "", "", {{"log-directory", "/var/log"}}},
    {"RelativeLogPathKeptAsGiven", {"--log-path", "logs"}, {}, 0, "", "",
     {{"log-directory", "logs"}, {"main-log-file", "logs/vx-vault-accessor.log"}}},
    {"ProxyUrlTrailingSlashNotChecked", {"--agent-proxy-url", "http://127.0.0.2:9000/"}, {}, 0, "",
     "", {{"crash-upload-url", "http://127.0.0.2:9000//crashes"}}},

    // Booleans take the library's words.
    {"BoolFalse", {"--crash-reports", "false"}, {}, 0, "", "", {{"crash-reports", "false"}}},
    {"BoolZero", {"--crash-reports=0"}, {}, 0, "", "", {{"crash-reports", "false"}}},
    {"BoolNo", {"--crash-reports", "no"}, {}, 0, "", "", {{"crash-reports", "false"}}},
    {"BoolOff", {"--crash-reports", "off"}, {}, 0, "", "", {{"crash-reports", "false"}}},
    {"BoolTrue", {"--services-allow-ipv6", "true"}, {}, 0, "", "",
     {{"services-allow-ipv6", "true"}}},
    {"BoolOne", {"--services-allow-ipv6=1"}, {}, 0, "", "", {{"services-allow-ipv6", "true"}}},
    {"BoolYes", {"--services-allow-ipv6", "yes"}, {}, 0, "", "", {{"services-allow-ipv6", "true"}}},
    {"BoolOn", {"--services-allow-ipv6", "on"}, {}, 0, "", "", {{"services-allow-ipv6", "true"}}},
    {"BoolIgnoresCase", {"--services-allow-ipv6", "TRUE", "--crash-reports", "Off"}, {}, 0, "", "",
     {{"services-allow-ipv6", "true"}, {"crash-reports", "false"}}},
    {"BoolsInFile", {}, {{"vx-agent.cfg", "crash-reports = no\nservices-allow-ipv6 = on\n"}}, 0, "",
     "", {{"crash-reports", "false"}, {"services-allow-ipv6", "true"}}},
    {"EmptyBoolInFileIsTrue", {}, {{"vx-agent.cfg", "services-allow-ipv6 =\n"}}, 0, "", "",
     {{"services-allow-ipv6", "true"}}},
    {"BoolOtherWord", {"--crash-reports", "maybe"}, {}, 64, "",
     "Error with args: the argument ('maybe') for option '--crash-reports' is invalid. Valid "
     "choices are 'on|off', 'yes|no', '1|0' and 'true|false'\n", {}},
    {"BoolWithoutValue", {"--crash-reports"}, {}, 64, "",
     "Error with args: the required argument for option '--crash-reports' is missing\n", {}},

    // Whatever the service does not declare is dropped.
    {"UnknownLongOption", {"--unknown", "--log-level", "INFO"}, {}, 0, "", "",
     {{"log-level", "INFO"}}},
    {"UnknownOptionWithValue", {"--unknown", "value", "--other=value", "--log-level=INFO"}, {}, 0,
     "", "", {{"log-level", "INFO"}}},
    {"UnknownShortOption", {"-x", "-L", "/srv/logs"}, {}, 0, "", "",
     {{"log-directory", "/srv/logs"}}},
    {"PositionalArguments", {"start", "--log-level", "INFO", "now"}, {}, 0, "", "",
     {{"log-level", "INFO"}}},
    {"AgentKeysInFile", {},
     {{"vx-agent.cfg",
       "# vx-agent configuration\n"
       "server = https://collector.example:9999/communication\n"
       "tenant = abc123\n"
       "proxy-port = 8778\n"
       "log-level = INFO\n"
       "  \n"
       "loglevel-for-plugins=warning\n"}},
     0, "", "", {{"log-level", "INFO"}, {"agent-proxy-url", "http://127.0.0.1:8778"}}},
    {"SectionPrefixesKeys", {},
     {{"vx-agent.cfg", "log-level = INFO\n[agent]\nlog-level = TRACE\nlog-path = /srv/logs\n"}}, 0,
     "", "", {{"log-level", "INFO"}, {"log-directory", "//var/log"}}},
    {"CommentsIgnored", {},
     {{"vx-agent.cfg", "# log-level = TRACE\nlog-level = INFO # not TRACE\n#security-mode=FIPS\n"}},
     0, "", "", {{"log-level", "INFO"}, {"security-mode", "DEFAULT"}}},
    {"WhitespaceAroundNameAndValue", {}, {{"vx-agent.cfg", "\t log-level \t=\t INFO \t\n"}}, 0, "",
     "", {{"log-level", "INFO"}}},
    {"HelpKeyInFileDoesNothing", {}, {{"vx-agent.cfg", "help = 1\n"}}, 0, "", "",
     {{"log-level", "DEBUG"}}},

    // Help: before the file is read, and line 4 always names the built-in file.
    {"HelpLong", {"--help", "-C", "{dir}/missing.cfg"}, {}, 0, kHelp, "", {}, kBuiltInDefault},
    {"HelpShortWithJoinedConfigFile", {"-h", "-C{dir}/missing.cfg"}, {}, 0, kHelp, "", {},
     kBuiltInDefault},
    {"HelpWithBrokenFile", {"-C", "{dir}/broken.cfg", "--help"},
     {{"broken.cfg", "not an option line\n"}}, 0, kHelp, "", {}, kBuiltInDefault},
    {"HelpAfterBadValueIsAnError", {"--log-file-size", "abc", "--help"}, {}, 64, "",
     "Error with args: the argument ('abc') for option '--log-file-size' is invalid\n", {}},

    // Configuration file that cannot be opened.
    {"DefaultFileMissingIsSilent", {}, {{"other.cfg", "log-level = TRACE\n"}}, 0, "", "",
     {{"log-level", "DEBUG"}}},
    {"ExplicitFileMissing", {"--config-file", "{dir}/missing.cfg"}, {}, 70, "",
     "Can't open config file: {dir}/missing.cfg\n", {}},
    {"ExplicitFileMissingShortJoined", {"-C{dir}/missing.cfg"}, {}, 70, "",
     "Can't open config file: {dir}/missing.cfg\n", {}},
    {"ExplicitDefaultPathMissing", {"-C", "{dir}/vx-agent.cfg"}, {}, 70, "",
     "Can't open config file: {dir}/vx-agent.cfg\n", {}},
    {"ExplicitFileIsDirectory", {"-C", "{dir}"}, {}, 70, "", "Can't open config file: {dir}\n", {}},

    // Errors reported by the options library.
    {"NonNumericSize", {"--log-file-size", "abc"}, {}, 64, "",
     "Error with args: the argument ('abc') for option '--log-file-size' is invalid\n", {}},
    {"SizeOutOfRange", {"--module-num-log-files=4294967296"}, {}, 64, "",
     "Error with args: the argument ('4294967296') for option '--module-num-log-files' is "
     "invalid\n", {}},
    {"MissingValue", {"--log-level"}, {}, 64, "",
     "Error with args: the required argument for option '--log-level' is missing\n", {}},
    {"NothingAfterEquals", {"--config-file="}, {}, 64, "",
     "Error with args: the argument for option '--config-file' should follow immediately after "
     "the equal sign\n", {}},
    {"MissingShortValue", {"-L"}, {}, 64, "",
     "Error with args: the required argument for option '--log-path' is missing\n", {}},
    {"GivenTwiceOnCommandLine", {"--log-level", "INFO", "--log-level", "TRACE"}, {}, 64, "",
     "Error with args: option '--log-level' cannot be specified more than once\n", {}},
    {"GivenTwiceInFile", {}, {{"vx-agent.cfg", "log-level = INFO\nlog-level = TRACE\n"}}, 64, "",
     "Error with args: option 'log-level' cannot be specified more than once\n", {}},
    {"NonNumericSizeInFile", {}, {{"vx-agent.cfg", "log-file-size = ten\n"}}, 64, "",
     "Error with args: the argument ('ten') for option 'log-file-size' is invalid\n", {}},
    {"BadBoolInFile", {}, {{"vx-agent.cfg", "crash-reports = sometimes\n"}}, 64, "",
     "Error with args: the argument ('sometimes') for option 'crash-reports' is invalid. Valid "
     "choices are 'on|off', 'yes|no', '1|0' and 'true|false'\n", {}},
    {"MalformedLineInFile", {}, {{"vx-agent.cfg", "log-level = INFO\nlog-level INFO\n"}}, 64, "",
     "Error with args: the options configuration file contains an invalid line "
     "'log-level INFO'\n", {}},
    {"MalformedLineAmongAgentKeys", {}, {{"vx-agent.cfg", "tenant = abc\njust some words\n"}}, 64,
     "", "Error with args: the options configuration file contains an invalid line "
         "'just some words'\n", {}},
    {"BadValueInFileWithGoodCommandLine", {"--log-file-size", "5"},
     {{"vx-agent.cfg", "log-file-size = ten\n"}}, 0, "", "", {{"log-file-size", "5"}}},
};

class ParseOptionsTest : public testing::TestWithParam<Case> {};

TEST_P(ParseOptionsTest, StatusOutputAndValues) {
    const Case& testCase = GetParam();
    CaseDirectory directory;
    const std::string dir = directory.path().string();
    const auto expand = [&dir](const std::string& text) { return replaceAll(text, kDir, dir); };

    for (const auto& file : testCase.files) {
        std::ofstream(directory.path() / file.name) << expand(file.text);
    }
    std::vector<std::string> args;
    for (const auto& arg : testCase.args) {
        args.push_back(expand(arg));
    }
    std::optional<std::string> defaultFile;
    if (testCase.defaultConfigFile) {
        defaultFile = expand(*testCase.defaultConfigFile);
    }

    const ParseRun run = runParse(args, defaultFile);

    EXPECT_EQ(run.status, testCase.status);
    EXPECT_EQ(run.out, testCase.out == kHelp ? goldenHelp() : expand(testCase.out));
    EXPECT_EQ(run.err, expand(testCase.err));
    const bool goesOn = testCase.status == 0 && testCase.out.empty();
    ASSERT_EQ(run.options.has_value(), goesOn);
    for (const auto& [key, expected] : testCase.values) {
        EXPECT_EQ(valueText(*run.options, key), expand(expected)) << key;
    }
}

INSTANTIATE_TEST_SUITE_P(Cases, ParseOptionsTest, testing::ValuesIn(kCases),
                         [](const testing::TestParamInfo<Case>& caseInfo) {
                             return caseInfo.param.name;
                         });

TEST(HelpOutput, MatchesGoldenByteForByte) {
    CaseDirectory directory;
    const std::string missing = (directory.path() / "missing.cfg").string();
    const ParseRun run = runParse({"--help", "-C", missing}, kBuiltInDefault);
    EXPECT_EQ(run.status, 0);
    EXPECT_EQ(run.err, "");
    EXPECT_EQ(run.out, goldenHelp());
    EXPECT_FALSE(goldenHelp().empty());
}

TEST(ParseOptions, NoArgumentVectorAtAll) {
    CaseDirectory directory;
    const char* argv[] = {nullptr};
    std::ostringstream out;
    std::ostringstream err;
    const auto outcome =
        parseOptions(0, argv, out, err, (directory.path() / "vx-agent.cfg").string());
    EXPECT_EQ(outcome.exitStatus, 0);
    ASSERT_TRUE(outcome.options.has_value());
    EXPECT_EQ(outcome.options->logDirectory(), "//var/log");
    EXPECT_EQ(out.str() + err.str(), "");
}

}  // namespace
