#include "vx/util/ArgumentVector.h"

#include <cstdio>

namespace vx::util {

ArgumentVector::ArgumentVector() {
    for (char*& slot : slots_) {
        slot = new char[kBufferSize];
        slot[0] = '\0';
    }
}

ArgumentVector::~ArgumentVector() {
    for (char* slot : slots_) {
        delete[] slot;
    }
    delete[] parked_;
}

char* ArgumentVector::nextSlot() {
    if (count_ > kSlots - 2) {
        return nullptr;
    }
    return slots_[count_];
}

void ArgumentVector::append(const char* text) {
    if (char* slot = nextSlot()) {
        std::snprintf(slot, kBufferSize, "%s", text);
        ++count_;
    }
}

void ArgumentVector::appendJoined(const char* prefix, const char* value) {
    if (char* slot = nextSlot()) {
        std::snprintf(slot, kBufferSize, "%s%s", prefix, value);
        ++count_;
    }
}

void ArgumentVector::appendAnnotation(const char* key, const char* value) {
    if (char* slot = nextSlot()) {
        std::snprintf(slot, kBufferSize, "-a%s=%s", key, value);
        ++count_;
    }
}

void ArgumentVector::markBase() {
    baseCount_ = count_;
}

void ArgumentVector::terminate() {
    if (parked_ != nullptr) {
        return;
    }
    parked_ = slots_[count_];
    parkedIndex_ = count_;
    slots_[count_] = nullptr;
}

void ArgumentVector::reset() {
    if (parked_ != nullptr) {
        slots_[parkedIndex_] = parked_;
        parked_ = nullptr;
        parkedIndex_ = -1;
    }
    // Every slot owns a buffer again; only the base arguments keep their text.
    for (int32_t index = baseCount_; index < kSlots; ++index) {
        slots_[index][0] = '\0';
    }
    count_ = baseCount_;
}

}  // namespace vx::util
