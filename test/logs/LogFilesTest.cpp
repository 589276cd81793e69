#include "LogTestSupport.h"

#include "vx/util/LogManager.h"
#include "vx/util/Logging.h"
#include "vx/util/ScopedMdc.h"

#include <log4cxx/patternlayout.h>

#include <algorithm>
#include <ctime>
#include <filesystem>
#include <regex>

namespace vx::util::test {
namespace {

namespace fs = std::filesystem;
namespace lm = vx::util::log_manager;

constexpr char kLogName[] = "vx-vault-accessor.log";
constexpr char kWarnName[] = "vx-vault-accessor.warn";

class LogFilesTest : public LogHierarchyTest {
protected:
    std::string mainPath() const { return dir_.file(kLogName); }
    std::string warnPath() const { return dir_.file(kWarnName); }

    void addBoth(std::int32_t sizeMb, std::int32_t mainCount, std::int32_t warnCount,
                 const std::string& level) {
        lm::addMainLogAppender(dir_.str(), kLogName, sizeMb, mainCount, level);
        lm::addWarnLogAppender(dir_.str(), kWarnName, sizeMb, warnCount);
    }

    static std::vector<std::string> linesContaining(const std::string& path,
                                                    const std::string& text) {
        std::vector<std::string> found;
        for (const auto& line : readLines(path)) {
            if (line.find(text) != std::string::npos) {
                found.push_back(line);
            }
        }
        return found;
    }
};

TEST_F(LogFilesTest, BothFilesAreCreatedInTheLogDirectory) {
    addBoth(10, 3, 2, "DEBUG");
    EXPECT_TRUE(fs::exists(mainPath()));
    EXPECT_TRUE(fs::exists(warnPath()));
    EXPECT_EQ(std::distance(fs::directory_iterator(dir_.path()), fs::directory_iterator()), 2);
}

TEST_F(LogFilesTest, LineFollowsTheMainLayout) {
    addBoth(10, 3, 2, "DEBUG");
    const auto logger = getLogger("vx.vault.handlers.deep.GetCredentials");
    {
        lm::ScopedMdc mdc({{"request", "42"}, {"vault", "conjur"}});
        VX_LOG_INFO(logger, "with context");
    }
    VX_LOG_ERROR(logger, "without context");
    const std::time_t now = std::time(nullptr);

    const auto lines = readLines(mainPath());
    ASSERT_EQ(lines.size(), 2U);
    // GMT stamp with milliseconds, level in five columns, the last eight characters of the
    // thread id, the last four components of the logger name, the whole MDC.
    const std::regex pattern(
        R"(^(\d{4})-(\d{2})-(\d{2}) (\d{2}):(\d{2}):(\d{2})\.\d{3} (INFO |ERROR) \[[0-9a-f]{8}\] )"
        R"(\[vault\.handlers\.deep\.GetCredentials\] (\S*) (.*)$)");
    std::smatch match;
    ASSERT_TRUE(std::regex_match(lines[0], match, pattern)) << lines[0];
    EXPECT_EQ(match[7], "INFO ");
    EXPECT_EQ(match[8], "{{request,42}{vault,conjur}}");
    EXPECT_EQ(match[9], "with context");

    std::tm stamp{};
    stamp.tm_year = std::stoi(match[1]) - 1900;
    stamp.tm_mon = std::stoi(match[2]) - 1;
    stamp.tm_mday = std::stoi(match[3]);
    stamp.tm_hour = std::stoi(match[4]);
    stamp.tm_min = std::stoi(match[5]);
    stamp.tm_sec = std::stoi(match[6]);
    EXPECT_LT(std::abs(static_cast<long>(timegm(&stamp) - now)), 120L)
        << "the stamp must be GMT: " << lines[0];

    ASSERT_TRUE(std::regex_match(lines[1], match, pattern)) << lines[1];
    EXPECT_EQ(match[7], "ERROR");
    EXPECT_EQ(match[8], "{}");
}

TEST_F(LogFilesTest, StampStaysGmtWhateverTheLocalZone) {
    const char* previous = std::getenv("TZ");
    const std::string saved = previous == nullptr ? "" : previous;
    setenv("TZ", "XYZ-07:30", 1);
    tzset();
    addBoth(10, 3, 2, "DEBUG");
    VX_LOG_INFO(getLogger("vx.test.zone"), "zone");
    const std::time_t now = std::time(nullptr);
    if (previous == nullptr) {
        unsetenv("TZ");
    } else {
        setenv("TZ", saved.c_str(), 1);
    }
    tzset();

    const auto lines = readLines(mainPath());
    ASSERT_EQ(lines.size(), 1U);
    std::tm stamp{};
    ASSERT_NE(strptime(lines[0].c_str(), "%Y-%m-%d %H:%M:%S", &stamp), nullptr) << lines[0];
    EXPECT_LT(std::abs(static_cast<long>(timegm(&stamp) - now)), 120L) << lines[0];
}

TEST_F(LogFilesTest, WarnFileHoldsWarnAndAboveOnly) {
    addBoth(10, 3, 2, "DEBUG");
    const auto logger = getLogger("vx.test.levels");
    VX_LOG_DEBUG(logger, "event-debug");
    VX_LOG_INFO(logger, "event-info");
    VX_LOG_WARN(logger, "event-warn");
    VX_LOG_ERROR(logger, "event-error");
    VX_LOG_FATAL(logger, "event-fatal");

    EXPECT_EQ(linesContaining(mainPath(), "event-").size(), 5U);
    const auto warnLines = linesContaining(warnPath(), "event-");
    ASSERT_EQ(warnLines.size(), 3U);
    EXPECT_NE(warnLines[0].find("event-warn"), std::string::npos);
    EXPECT_NE(warnLines[1].find("event-error"), std::string::npos);
    EXPECT_NE(warnLines[2].find("event-fatal"), std::string::npos);
}

TEST_F(LogFilesTest, RootLevelFiltersBothFiles) {
    struct Row {
        const char* level;
        std::vector<std::string> inMain;
        std::vector<std::string> inWarn;
    };
    const Row rows[] = {
        {"INFO", {"event-info", "event-warn", "event-error"}, {"event-warn", "event-error"}},
        {"no-such-level", {"event-debug", "event-info", "event-warn", "event-error"},
         {"event-warn", "event-error"}},
        {"ERROR", {"event-error"}, {"event-error"}},
    };
    for (const Row& row : rows) {
        TempDir dir;
        auto main = lm::addMainLogAppender(dir.str(), kLogName, 1, 2, row.level);
        auto warn = lm::addWarnLogAppender(dir.str(), kWarnName, 1, 2);
        const auto logger = getLogger("vx.test.filter");
        VX_LOG_DEBUG(logger, "event-debug");
        VX_LOG_INFO(logger, "event-info");
        VX_LOG_WARN(logger, "event-warn");
        VX_LOG_ERROR(logger, "event-error");
        lm::removeRootAppender(main);
        lm::removeRootAppender(warn);

        const auto messages = [](const std::string& path) {
            std::vector<std::string> found;
            for (const auto& line : readLines(path)) {
                found.push_back(line.substr(line.rfind(' ') + 1));
            }
            return found;
        };
        EXPECT_EQ(messages(dir.file(kLogName)), row.inMain) << row.level;
        EXPECT_EQ(messages(dir.file(kWarnName)), row.inWarn) << row.level;
    }
}

// Writes about `bytes` bytes of DEBUG events; the count of events is bounded by the size.
void writeEvents(const std::string& loggerName, std::size_t bytes) {
    const auto logger = getLogger(loggerName.c_str());
    const std::string payload(1000, 'x');
    for (std::size_t written = 0; written < bytes; written += payload.size()) {
        VX_LOG_DEBUG(logger, payload);
    }
}

TEST_F(LogFilesTest, RollsAtTheSizeAndKeepsTheFileCount) {
    addBoth(1, 3, 2, "DEBUG");
    writeEvents("vx.test.roll", 4U * 1048576U);

    EXPECT_TRUE(fs::exists(mainPath() + ".1"));
    EXPECT_TRUE(fs::exists(mainPath() + ".2"));
    EXPECT_FALSE(fs::exists(mainPath() + ".3")) << "three main files in all";
    // A file rolls right after the event that brought it to 1 MB.
    const auto rolled = fs::file_size(mainPath() + ".1");
    EXPECT_GE(rolled, 1048576U);
    EXPECT_LT(rolled, 1048576U + 2000U);
    EXPECT_LT(fs::file_size(mainPath()), 1048576U);
    EXPECT_FALSE(fs::exists(warnPath() + ".1")) << "DEBUG events never reach the warning log";
}

TEST_F(LogFilesTest, WindowIsCappedAtBothEnds) {
    struct Row {
        std::int32_t maxIndex;
        int highestRolled;
    };
    // log4cxx raises a window below 1 to 1 and cuts one wider than 12 steps.
    const Row rows[] = {{0, 1}, {-4, 1}, {2, 2}, {13, 13}, {19, 13}};
    for (const Row& row : rows) {
        TempDir dir;
        auto appender = lm::createRollingFileAppender(
            dir.str(), "small.log", "small.log.%i", 2000, row.maxIndex,
            std::make_shared<log4cxx::PatternLayout>(LOG4CXX_STR("%m%n")), "SmallAppender");
        const auto logger = getLogger("vx.test.window");
        logger->addAppender(appender);
        for (int i = 0; i < 40; ++i) {
            VX_LOG_INFO(logger, std::string(1000, 'w'));
        }
        logger->removeAppender(appender);

        for (int index = 1; index <= 20; ++index) {
            EXPECT_EQ(fs::exists(dir.file("small.log." + std::to_string(index))),
                      index <= row.highestRolled)
                << "max index " << row.maxIndex << ", file ." << index;
        }
    }
}

TEST_F(LogFilesTest, FileCountOneKeepsOneRolledFile) {
    lm::addMainLogAppender(dir_.str(), kLogName, 1, 1, "DEBUG");
    writeEvents("vx.test.one", 3U * 1048576U);
    EXPECT_TRUE(fs::exists(mainPath() + ".1"));
    EXPECT_FALSE(fs::exists(mainPath() + ".2"));
}

TEST_F(LogFilesTest, RestartAppendsToExistingFiles) {
    const auto logger = getLogger("vx.test.restart");
    addBoth(10, 3, 2, "DEBUG");
    VX_LOG_ERROR(logger, "before restart");
    getRootLogger()->removeAllAppenders();

    addBoth(10, 3, 2, "DEBUG");
    VX_LOG_ERROR(logger, "after restart");

    for (const auto& path : {mainPath(), warnPath()}) {
        const auto lines = readLines(path);
        ASSERT_EQ(lines.size(), 2U) << path;
        EXPECT_NE(lines[0].find("before restart"), std::string::npos) << path;
        EXPECT_NE(lines[1].find("after restart"), std::string::npos) << path;
    }
}

TEST_F(LogFilesTest, FileCountZeroOrLessCreatesNothing) {
    for (const std::int32_t count : {0, -1, INT32_MIN}) {
        getRootLogger()->setLevel(log4cxx::Level::getInfo());
        EXPECT_FALSE(lm::addMainLogAppender(dir_.str(), kLogName, 10, count, "ERROR"));
        EXPECT_EQ(getRootLogger()->getLevel(), log4cxx::Level::getInfo()) << count;
        EXPECT_FALSE(lm::addWarnLogAppender(dir_.str(), kWarnName, 10, count));
        EXPECT_TRUE(rootAppenderNames().empty()) << count;
    }
    EXPECT_TRUE(fs::is_empty(dir_.path()));
}

TEST_F(LogFilesTest, WarnLogWorksWithoutTheMainLog) {
    lm::addMainLogAppender(dir_.str(), kLogName, 10, 0, "DEBUG");
    lm::addWarnLogAppender(dir_.str(), kWarnName, 10, 2);
    const auto logger = getLogger("vx.test.warnonly");
    VX_LOG_INFO(logger, "event-info");
    VX_LOG_WARN(logger, "event-warn");
    EXPECT_FALSE(fs::exists(mainPath()));
    EXPECT_EQ(linesContaining(warnPath(), "event-").size(), 1U);
}

TEST_F(LogFilesTest, OutOfRangeSizeIsClampedWithOneWarningPerLog) {
    addBoth(0, 3, 2, "DEBUG");
    writeEvents("vx.test.clamp", 3U * 1048576U / 2U);
    EXPECT_TRUE(fs::exists(mainPath() + ".1")) << "size 0 MB must roll at 1 MB, not on every event";
    EXPECT_LT(fs::file_size(mainPath() + ".1"), 1048576U + 2000U);

    // The first warning is in the rolled file, the second may be too.
    std::vector<std::string> warnings = linesContaining(mainPath() + ".1", "Log file size");
    const auto activeWarnings = linesContaining(mainPath(), "Log file size");
    warnings.insert(warnings.end(), activeWarnings.begin(), activeWarnings.end());
    ASSERT_EQ(warnings.size(), 2U);
    EXPECT_NE(warnings[0].find("WARN  "), std::string::npos);
    EXPECT_NE(warnings[0].find("[vx.util.logmanager]"), std::string::npos);
    EXPECT_NE(warnings[0].find("Log file size 0 MB for vx-vault-accessor.log is outside 1 to "
                               "2047 MB; using 1 MB"),
              std::string::npos)
        << warnings[0];
    EXPECT_NE(warnings[1].find("Log file size 0 MB for vx-vault-accessor.warn"), std::string::npos);

    const auto inWarnFile = linesContaining(warnPath(), "Log file size");
    ASSERT_EQ(inWarnFile.size(), 1U);
    EXPECT_NE(inWarnFile[0].find("vx-vault-accessor.warn"), std::string::npos);
}

TEST_F(LogFilesTest, SizeInRangeLogsNoWarning) {
    addBoth(2047, 3, 2, "DEBUG");
    EXPECT_TRUE(readLines(mainPath()).empty());
    EXPECT_TRUE(readLines(warnPath()).empty());
}

}  // namespace
}  // namespace vx::util::test
