#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace vx::test::crash {

using Arguments = std::vector<std::string>;

// Runs program with arguments in directory and returns its raw wait status.
int runIn(const std::string& directory, const std::string& program, const Arguments& arguments);

// The command lines the recording uploader wrote into directory, one per run.
std::vector<Arguments> readCalls(const std::string& directory);

// Minidumps in /tmp whose bytes contain token (Breakpad records the command line).
std::vector<std::string> dumpsMentioning(const std::string& token);

// Breakpad's own minidump_dump parses the file: header, stream directory, thread and module
// lists. minidump_dump also wants MiscInfo and MemoryInfoList streams, which Breakpad's
// Linux writer never produces, so its exit status alone cannot tell.
// With crashSignal set, the exception stream must name that signal.
::testing::AssertionResult minidumpReadable(const std::string& path, int crashSignal = 0);

std::string readFile(const std::string& path);

}  // namespace vx::test::crash
