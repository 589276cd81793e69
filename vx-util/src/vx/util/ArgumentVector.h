#pragma once

#include <cstddef>
#include <cstdint>

namespace vx::util {

// The upload tool's argv, kept in fixed buffers allocated up front so that a crash only
// copies into memory that already exists. Holds at most kSlots - 1 arguments; the last
// slot is always free for the terminating null pointer.
class ArgumentVector {
public:
    static constexpr int32_t kSlots = 32;
    static constexpr size_t kBufferSize = 256;

    ArgumentVector();
    ~ArgumentVector();
    ArgumentVector(const ArgumentVector&) = delete;
    ArgumentVector& operator=(const ArgumentVector&) = delete;

    // Appends text cut to kBufferSize - 1 bytes; dropped silently when the vector is full.
    void append(const char* text);
    // Appends prefix immediately followed by value, as one argument.
    void appendJoined(const char* prefix, const char* value);
    // Appends "-a" + key + "=" + value.
    void appendAnnotation(const char* key, const char* value);

    // Arguments below the base count stay for every dump.
    void markBase();
    // Null-terminates after the last argument, for execv.
    void terminate();
    // Back to the base arguments with every slot holding a buffer again.
    void reset();

    int32_t count() const { return count_; }
    int32_t baseCount() const { return baseCount_; }
    const char* at(int32_t index) const { return slots_[index]; }
    char* const* argv() const { return slots_; }

private:
    char* nextSlot();

    int32_t count_ = 0;
    int32_t baseCount_ = 0;
    char* slots_[kSlots] = {};
    // The buffer taken out of its slot by terminate(); reset() puts it back. Parking it
    // instead of freeing it keeps the heap out of the crash path.
    char* parked_ = nullptr;
    int32_t parkedIndex_ = -1;
};

}  // namespace vx::util
