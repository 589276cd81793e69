#include "LogTestSupport.h"

#include "vx/util/LogManager.h"
#include "vx/util/Logging.h"

#include <log4cxx/rolling/fixedwindowrollingpolicy.h>

#include <climits>
#include <filesystem>

namespace vx::util::test {
namespace {

namespace lm = vx::util::log_manager;

TEST(LogFileSizeTest, ClampsIntoTheRangeThatFitsThirtyTwoBits) {
    struct Row {
        std::int32_t given;
        std::int32_t used;
        bool clamped;
    };
    const Row rows[] = {{INT_MIN, 1, true}, {-5, 1, true},        {0, 1, true},
                        {1, 1, false},      {10, 10, false},      {2047, 2047, false},
                        {2048, 2047, true}, {INT_MAX, 2047, true}};
    for (const Row& row : rows) {
        const lm::ClampedLogFileSize size = lm::clampLogFileSizeMb(row.given);
        EXPECT_EQ(size.usedMb, row.used) << row.given;
        EXPECT_EQ(size.wasClamped, row.clamped) << row.given;
    }
}

TEST(LogFileSizeTest, BytesAreMegabytesShiftedByTwenty) {
    EXPECT_EQ(lm::logFileSizeBytes(1), 1048576);
    EXPECT_EQ(lm::logFileSizeBytes(10), 10485760);
    EXPECT_EQ(lm::logFileSizeBytes(2047), 2146435072);
    // Outside the range the 32-bit product wraps; the clamp keeps callers away from it.
    EXPECT_LT(lm::logFileSizeBytes(2048), 0);
}

class LogManagerTest : public LogHierarchyTest {};

TEST_F(LogManagerTest, LevelNameSetsTheRootLevel) {
    struct Row {
        const char* name;
        int level;
    };
    const Row rows[] = {{"ALL", INT_MIN},  {"TRACE", 5000},  {"DEBUG", 10000}, {"INFO", 20000},
                        {"info", 20000},   {"warn", 30000},  {"WaRn", 30000},  {"ERROR", 40000},
                        {"FATAL", 50000},  {"OFF", INT_MAX}, {"verbose", 10000}, {"", 10000}};
    for (const Row& row : rows) {
        getRootLogger()->setLevel(log4cxx::Level::getFatal());
        auto appender = lm::addMainLogAppender(dir_.str(), "main.log", 1, 2, row.name);
        ASSERT_TRUE(appender);
        EXPECT_EQ(getRootLogger()->getLevel()->toInt(), row.level) << '"' << row.name << '"';
        lm::removeRootAppender(appender);
    }
}

TEST_F(LogManagerTest, AppendersHangOnTheRootUnderTheirNames) {
    EXPECT_TRUE(rootHasPlaceholder());
    auto main = lm::addMainLogAppender(dir_.str(), "a.log", 1, 3, "DEBUG");
    auto warn = lm::addWarnLogAppender(dir_.str(), "a.warn", 1, 2);
    EXPECT_EQ(rootAppenderNames(), (std::vector<std::string>{"MainLogAppender", "WarnLogAppender"}));
    EXPECT_FALSE(rootHasPlaceholder());

    lm::removeRootAppender(nullptr);
    lm::removeRootAppender(main);
    EXPECT_EQ(rootAppenderNames(), (std::vector<std::string>{"WarnLogAppender"}));
    lm::removeRootAppender(warn);
    EXPECT_TRUE(rootAppenderNames().empty());
    EXPECT_TRUE(rootHasPlaceholder()) << "an unconfigured root must stay quiet again";
}

int maxIndexOf(const lm::AppenderPtr& appender) {
    return log4cxx::cast<log4cxx::rolling::FixedWindowRollingPolicy>(appender->getRollingPolicy())
        ->getMaxIndex();
}

TEST_F(LogManagerTest, ChangeLogFileCountMovesTheWindow) {
    auto main = lm::addMainLogAppender(dir_.str(), "a.log", 1, 4, "DEBUG");
    auto warn = lm::addWarnLogAppender(dir_.str(), "a.warn", 1, 2);
    ASSERT_EQ(maxIndexOf(main), 3);

    EXPECT_EQ(lm::changeMainLogFileCount(2), main);
    EXPECT_EQ(maxIndexOf(main), 5);
    EXPECT_EQ(lm::changeWarnLogFileCount(1), warn);
    EXPECT_EQ(maxIndexOf(warn), 2);
    EXPECT_EQ(lm::changeLogFileCount("MainLogAppender", -4), main);
    EXPECT_EQ(maxIndexOf(main), 1);
}

TEST_F(LogManagerTest, ChangeLogFileCountRefusals) {
    auto main = lm::addMainLogAppender(dir_.str(), "a.log", 1, 4, "DEBUG");
    auto plain = lm::addErrorFileAppender(dir_.file("plain.err"));
    plain->setName("PlainFile");
    struct Row {
        const char* name;
        std::int32_t delta;
        const char* message;
    };
    const Row rows[] = {
        {"MainLogAppender", 0, "No change in log files"},
        {"NoSuchAppender", 0, "No change in log files"},  // refused before any look-up
        {"NoSuchAppender", 1, "Failed to get fixed window policy for: NoSuchAppender"},
        {"WarnLogAppender", 1, "Failed to get fixed window policy for: WarnLogAppender"},
        {"PlainFile", 1, "Failed to get fixed window policy for: PlainFile"},
        {"MainLogAppender", -3, "The final file count must be positive"},
        {"MainLogAppender", INT_MIN, "The final file count must be positive"},
    };
    for (const Row& row : rows) {
        try {
            lm::changeLogFileCount(row.name, row.delta);
            ADD_FAILURE() << row.name << " " << row.delta << " was accepted";
        } catch (const lm::LogManagerException& error) {
            EXPECT_STREQ(error.what(), row.message) << row.name << " " << row.delta;
        }
        EXPECT_EQ(maxIndexOf(main), 3) << "a refused change must leave the window alone";
    }
}

class ConfigureFromFileTest : public LogHierarchyTest {
protected:
    void SetUp() override {
        LogHierarchyTest::SetUp();
        previous_ = std::filesystem::current_path();
        std::filesystem::current_path(dir_.path());
    }
    void TearDown() override {
        std::filesystem::current_path(previous_);
        LogHierarchyTest::TearDown();
    }

    std::filesystem::path previous_;
};

// Each accepted file sets the level of its own logger, so the test sees which configurator read it.
std::string xmlSettingLevel(const std::string& logger) {
    return "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
           "<log4j:configuration xmlns:log4j=\"http://jakarta.apache.org/log4j/\">\n"
           "  <logger name=\"" + logger + "\"><level value=\"ERROR\"/></logger>\n"
           "</log4j:configuration>\n";
}

std::string propertiesSettingLevel(const std::string& logger) {
    return "log4j.logger." + logger + "=ERROR\n";
}

TEST_F(ConfigureFromFileTest, NameEdges) {
    struct Row {
        const char* fileName;
        bool accepted;
    };
    const Row rows[] = {{"a.xml", false},         {"ab.xml", true},    {"a.properties", false},
                        {"ab.properties", true},  {"config.txt", false}, {"", false},
                        {"ab.XML", false}};
    for (const Row& row : rows) {
        const std::string name = row.fileName;
        const std::string loggerName = "vx.test.configured" + std::to_string(&row - rows);
        const bool isXml = name.size() >= 4 && name.compare(name.size() - 4, 4, ".xml") == 0;
        if (!name.empty()) {
            writeFile(name, isXml ? xmlSettingLevel(loggerName) : propertiesSettingLevel(loggerName));
        }
        testing::internal::CaptureStderr();
        bool thrown = false;
        try {
            lm::configureFromFile(name);
        } catch (const lm::LogManagerException& error) {
            thrown = true;
            EXPECT_STREQ(error.what(), "Invalid logging-config filename");
        }
        const std::string err = testing::internal::GetCapturedStderr();
        EXPECT_EQ(thrown, !row.accepted) << '"' << name << '"';
        if (row.accepted) {
            const auto level = getLogger(loggerName.c_str())->getLevel();
            ASSERT_TRUE(level) << name;
            EXPECT_EQ(level->toInt(), log4cxx::Level::ERROR_INT) << name;
        } else {
            EXPECT_EQ(err, "logging-config filename must end with .xml or .properties\n") << name;
        }
    }
}

}  // namespace
}  // namespace vx::util::test
