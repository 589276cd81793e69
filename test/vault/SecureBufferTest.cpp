#include <gtest/gtest.h>

#include <cstdlib>
#include <string>
#include <vector>

#include "clients/SecureBuffer.h"

namespace {

using vx::rc::vault_accessor::clients::BasicSecureBuffer;
using vx::rc::vault_accessor::clients::HeapBlocks;
using vx::rc::vault_accessor::clients::WipingAllocator;

// Records every block the allocator asks for and whether it was all zeros when released.
struct InspectedBlocks {
    static std::vector<size_t> acquired;
    static std::vector<size_t> released;
    static bool everyReleasedBlockWiped;

    static void* acquire(size_t bytes) {
        acquired.push_back(bytes);
        return HeapBlocks::acquire(bytes);
    }
    static void release(void* block, size_t bytes) noexcept {
        const auto* data = static_cast<const unsigned char*>(block);
        for (size_t i = 0; i < bytes; ++i) {
            everyReleasedBlockWiped = everyReleasedBlockWiped && data[i] == 0;
        }
        released.push_back(bytes);
        HeapBlocks::release(block, bytes);
    }
    static void clear() {
        acquired.clear();
        released.clear();
        everyReleasedBlockWiped = true;
    }
};
std::vector<size_t> InspectedBlocks::acquired;
std::vector<size_t> InspectedBlocks::released;
bool InspectedBlocks::everyReleasedBlockWiped = true;

using Buffer = BasicSecureBuffer<WipingAllocator<char, InspectedBlocks>>;

class SecureBufferTest : public ::testing::Test {
protected:
    void SetUp() override { InspectedBlocks::clear(); }
};

TEST_F(SecureBufferTest, NewBufferHoldsOnlyTheTrailingNul) {
    const Buffer buffer;
    EXPECT_TRUE(buffer.empty());
    EXPECT_EQ(buffer.storedSize(), 1u);
    EXPECT_STREQ(buffer.c_str(), "");
}

TEST_F(SecureBufferTest, GrowsToExactlyTheNeededSizeAndWipesEveryOldBlock) {
    {
        Buffer buffer;
        buffer.append("secret", 6);
        buffer.append("", 0);  // nothing to do, no new block
        buffer.append(std::string("\0xy", 3));
        EXPECT_EQ(buffer.size(), 9u);
        EXPECT_EQ(buffer.capacity(), 10u);
        EXPECT_EQ(buffer.c_str()[9], '\0');
        EXPECT_EQ(buffer.view(), std::string("secret\0xy", 9));
        EXPECT_EQ(InspectedBlocks::acquired, (std::vector<size_t>{1, 7, 10}));
        EXPECT_EQ(InspectedBlocks::released, (std::vector<size_t>{1, 7}));
    }
    EXPECT_EQ(InspectedBlocks::released, (std::vector<size_t>{1, 7, 10}));
    EXPECT_TRUE(InspectedBlocks::everyReleasedBlockWiped);
}

TEST_F(SecureBufferTest, MoveTransfersTheBlockWithoutCopying) {
    Buffer source;
    source.append("token", 5);
    const char* block = source.c_str();
    const auto blocksBefore = InspectedBlocks::acquired.size();

    Buffer target(std::move(source));
    EXPECT_EQ(target.c_str(), block);
    EXPECT_EQ(InspectedBlocks::acquired.size(), blocksBefore);

    Buffer assigned;
    assigned = std::move(target);
    EXPECT_EQ(assigned.c_str(), block);
    EXPECT_EQ(assigned.view(), "token");
}

TEST_F(SecureBufferTest, MovedFromBufferIsEmptyAndUsable) {
    Buffer source;
    source.append("abc", 3);
    Buffer target(std::move(source));
    EXPECT_TRUE(source.empty());  // NOLINT(bugprone-use-after-move): the state is defined
    EXPECT_STREQ(source.c_str(), "");
    source.append("d", 1);
    EXPECT_STREQ(source.c_str(), "d");
}

TEST_F(SecureBufferTest, CopyIsIndependentAndExactSize) {
    Buffer original;
    original.append("value", 5);
    Buffer copy(original);
    original.append("!", 1);
    EXPECT_EQ(copy.view(), "value");
    EXPECT_EQ(copy.capacity(), 6u);
}

}  // namespace
