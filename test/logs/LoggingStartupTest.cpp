#include "LogTestSupport.h"

#include <filesystem>

namespace vx::util::test {
namespace {

namespace fs = std::filesystem;

// Stray configuration that log4cxx would read on its own: every file sends everything to
// the console, the environment's file also writes a file of its own.
void plantStrayConfiguration(const TempDir& work) {
    const std::string properties =
        "log4j.rootLogger=DEBUG, stray\n"
        "log4j.appender.stray=org.apache.log4j.ConsoleAppender\n"
        "log4j.appender.stray.layout=org.apache.log4j.PatternLayout\n"
        "log4j.appender.stray.layout.ConversionPattern=STRAY %m%n\n";
    writeFile(work.file("log4cxx.properties"), properties);
    writeFile(work.file("log4j.properties"), properties);
    writeFile(work.file("log4cxx.xml"),
              "<?xml version=\"1.0\" encoding=\"UTF-8\" ?>\n"
              "<log4j:configuration xmlns:log4j=\"http://jakarta.apache.org/log4j/\">\n"
              "  <appender name=\"stray\" class=\"org.apache.log4j.ConsoleAppender\">\n"
              "    <layout class=\"org.apache.log4j.PatternLayout\">\n"
              "      <param name=\"ConversionPattern\" value=\"STRAY %m%n\"/>\n"
              "    </layout>\n"
              "  </appender>\n"
              "  <root><priority value=\"debug\"/><appender-ref ref=\"stray\"/></root>\n"
              "</log4j:configuration>\n");
    writeFile(work.file("env.properties"),
              properties + "log4j.rootLogger=DEBUG, stray, file\n"
                           "log4j.appender.file=org.apache.log4j.FileAppender\n"
                           "log4j.appender.file.File=" + work.file("from-env.log") + "\n"
                           "log4j.appender.file.layout=org.apache.log4j.PatternLayout\n");
}

TEST(LoggingStartupTest, UnconfiguredProcessLogsNothingAnywhere) {
    TempDir work;
    const ProbeResult result = runProbe({"logger"}, work.str());
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_EQ(result.out, "");
    EXPECT_EQ(result.err, "") << "no 'No appender could be found' advice";
}

TEST(LoggingStartupTest, StrayConfigurationIsIgnored) {
    struct Row {
        std::vector<std::string> args;
        bool logsToFile;
    };
    TempDir logs;
    const Row rows[] = {{{"logger"}, false}, {{"manager", logs.str()}, true}};
    for (const Row& row : rows) {
        TempDir work;
        plantStrayConfiguration(work);
        const ProbeResult result =
            runProbe(row.args, work.str(),
                     {"LOG4CXX_CONFIGURATION=" + work.file("env.properties"),
                      "log4j.configuration=" + work.file("env.properties")});
        EXPECT_EQ(result.exitStatus, 0) << row.args[0];
        EXPECT_EQ(result.out, "") << row.args[0];
        EXPECT_EQ(result.err, "") << row.args[0];
        EXPECT_FALSE(fs::exists(work.file("from-env.log"))) << row.args[0];
        if (row.logsToFile) {
            EXPECT_EQ(readLines(logs.file("probe.log")).size(), 4U);
        }
    }
}

TEST(LoggingStartupTest, Log4cxxOwnWarningsStayVisible) {
    TempDir work;
    const ProbeResult result = runProbe({"count-one", work.str()}, work.str());
    EXPECT_EQ(result.exitStatus, 0);
    EXPECT_NE(result.err.find("MaxIndex  cannot be smaller than MinIndex."), std::string::npos)
        << result.err;
}

}  // namespace
}  // namespace vx::util::test
