#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "support/TempDir.h"

namespace vx::util::test {

using TempDir = vx::test::TempDir;

std::vector<std::string> readLines(const std::string& path);
std::string readAll(const std::string& path);
void writeFile(const std::string& path, const std::string& content);

// log4cxx's hierarchy is process-wide: every test starts and ends with a root logger
// that has no appender of ours, level DEBUG, and an empty MDC.
class LogHierarchyTest : public ::testing::Test {
protected:
    void SetUp() override;
    void TearDown() override;

    // Names of the root logger's appenders, the silent placeholder left out.
    static std::vector<std::string> rootAppenderNames();
    static bool rootHasPlaceholder();

    TempDir dir_;
};

struct ProbeResult {
    int exitStatus = -1;
    std::string out;
    std::string err;
};

// Runs logs_probe with the given arguments in workDir, with extraEnv ("NAME=value")
// added to the environment.
ProbeResult runProbe(const std::vector<std::string>& args, const std::string& workDir,
                     const std::vector<std::string>& extraEnv = {});

}  // namespace vx::util::test
