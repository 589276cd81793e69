#include "LogTestSupport.h"

#include "vx/util/LogManager.h"
#include "vx/util/Logging.h"
#include "vx/util/ScopedMdc.h"

#include <filesystem>
#include <regex>

namespace vx::util::test {
namespace {

namespace fs = std::filesystem;
namespace lm = vx::util::log_manager;

class LogManagerOperationsTest : public LogHierarchyTest {};

TEST_F(LogManagerOperationsTest, SanityChecksLogHangsOnItsOwnLogger) {
    const auto logger = getLogger("vx.test.sanity.deep.checks");
    logger->setLevel(log4cxx::Level::getError());
    getRootLogger()->setLevel(log4cxx::Level::getError());
    auto appender = lm::addSanityChecksAppender(logger, dir_.str(), "sanity.log");

    EXPECT_EQ(appender->getName(), "SanityChecksAppender");
    EXPECT_EQ(logger->getLevel(), log4cxx::Level::getDebug());
    EXPECT_TRUE(logger->getAdditivity());
    EXPECT_TRUE(rootAppenderNames().empty());
    {
        lm::ScopedMdc mdc(lm::Mdc{{"check", "disk"}});
        VX_LOG_DEBUG(logger, "sanity event");
    }
    VX_LOG_DEBUG(getLogger("vx.test.other"), "not for the sanity log");
    logger->removeAppender(appender);

    const auto lines = readLines(dir_.file("sanity.log"));
    ASSERT_EQ(lines.size(), 1U);
    const std::regex pattern(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} DEBUG \[0x[0-9a-f]+\] )"
        R"(\[test\.sanity\.deep\.checks \{\{check,disk\}\}\] - sanity event$)");
    EXPECT_TRUE(std::regex_match(lines[0], pattern)) << lines[0];
}

TEST_F(LogManagerOperationsTest, SanityChecksLogRollsAtFiftyKilobytesIntoTwoFiles) {
    const auto logger = getLogger("vx.test.sanity.roll");
    auto appender = lm::addSanityChecksAppender(logger, dir_.str(), "sanity.log");
    for (int i = 0; i < 200; ++i) {
        VX_LOG_DEBUG(logger, std::string(1000, 's'));
    }
    logger->removeAppender(appender);
    EXPECT_TRUE(fs::exists(dir_.file("sanity.log.2")));
    EXPECT_FALSE(fs::exists(dir_.file("sanity.log.3")));
    EXPECT_LT(fs::file_size(dir_.file("sanity.log.1")), 51200U + 1200U);
    EXPECT_GE(fs::file_size(dir_.file("sanity.log.1")), 51200U);
}

TEST_F(LogManagerOperationsTest, InfoFileTakesInfoAndAboveOfItsLogger) {
    const auto logger = getLogger("vx.test.infofile");
    const std::string path = dir_.file("info.txt");
    writeFile(path, "kept\n");
    auto appender = lm::addInfoFileAppender(logger, path);
    VX_LOG_DEBUG(logger, "debug");
    VX_LOG_INFO(logger, "info");
    VX_LOG_ERROR(logger, "error");
    logger->removeAppender(appender);
    EXPECT_TRUE(rootAppenderNames().empty());
    EXPECT_EQ(readLines(path), (std::vector<std::string>{"kept", "info", "error"}));
}

TEST_F(LogManagerOperationsTest, ErrorFileTakesErrorAndAboveOfEveryLogger) {
    const std::string path = dir_.file("error.txt");
    auto appender = lm::addErrorFileAppender(path);
    EXPECT_FALSE(rootHasPlaceholder());
    VX_LOG_WARN(getLogger("vx.test.a"), "warn");
    VX_LOG_ERROR(getLogger("vx.test.b"), "error");
    VX_LOG_FATAL(getLogger("vx.test.c"), "fatal");
    lm::removeRootAppender(appender);
    EXPECT_EQ(readLines(path), (std::vector<std::string>{"error", "fatal"}));
}

TEST_F(LogManagerOperationsTest, ConsoleGoesToStandardError) {
    testing::internal::CaptureStderr();
    auto appender = lm::addConsoleAppender();
    VX_LOG_DEBUG(getLogger("vx.test.console"), "to the console");
    lm::removeRootAppender(appender);
    const std::string err = testing::internal::GetCapturedStderr();
    const std::regex pattern(
        R"(^\d{4}-\d{2}-\d{2} \d{2}:\d{2}:\d{2}\.\d{3} DEBUG to the console\n$)");
    EXPECT_TRUE(std::regex_match(err, pattern)) << err;
}

}  // namespace
}  // namespace vx::util::test
