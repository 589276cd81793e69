#include <gtest/gtest.h>

#include <string>

#include "vx/util/ArgumentVector.h"

namespace vx::util {
namespace {

// Several dump cycles on one vector: the parked terminator buffer must come back to its
// slot and the base arguments must survive (memory faults show under the sanitizers).
TEST(ArgumentVectorTest, DumpCyclesKeepBaseAndRefillTheTerminatorSlot) {
    ArgumentVector arguments;
    arguments.append("tool");
    arguments.appendJoined("-p", "x");
    arguments.markBase();
    for (int cycle = 0; cycle < 3; ++cycle) {
        arguments.appendAnnotation("cycle", std::to_string(cycle).c_str());
        arguments.terminate();
        ASSERT_EQ(arguments.count(), 3);
        EXPECT_STREQ(arguments.argv()[2], ("-acycle=" + std::to_string(cycle)).c_str());
        EXPECT_EQ(arguments.argv()[3], nullptr);
        arguments.reset();
        EXPECT_EQ(arguments.count(), 2);
        EXPECT_STREQ(arguments.at(1), "-px");
    }
}

TEST(ArgumentVectorTest, FullVectorStillTerminates) {
    ArgumentVector arguments;
    for (int index = 0; index < 40; ++index) {
        arguments.append("a");
    }
    EXPECT_EQ(arguments.count(), ArgumentVector::kSlots - 1);
    arguments.terminate();
    EXPECT_EQ(arguments.argv()[ArgumentVector::kSlots - 1], nullptr);
    arguments.reset();
    EXPECT_EQ(arguments.count(), 0);
    arguments.append("b");
    EXPECT_STREQ(arguments.at(0), "b");
}

}  // namespace
}  // namespace vx::util
