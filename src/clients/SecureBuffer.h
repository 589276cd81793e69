#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <string_view>
#include <utility>
#include <vector>

#include "clients/WipingAllocator.h"

namespace vx::rc::vault_accessor::clients {

// A byte buffer for secret material: no spare capacity, every block wiped before release,
// and always one trailing NUL after the content so it reads as a C string.
template <typename Allocator>
class BasicSecureBuffer {
public:
    BasicSecureBuffer() : bytes_(1, '\0') {}
    BasicSecureBuffer(const BasicSecureBuffer&) = default;
    BasicSecureBuffer(BasicSecureBuffer&&) noexcept = default;

    BasicSecureBuffer& operator=(const BasicSecureBuffer& other) {
        if (this != &other) {
            BasicSecureBuffer copy(other);
            *this = std::move(copy);
        }
        return *this;
    }

    BasicSecureBuffer& operator=(BasicSecureBuffer&& other) noexcept {
        if (this != &other) {
            wipe();
            bytes_ = std::move(other.bytes_);
        }
        return *this;
    }

    ~BasicSecureBuffer() { wipe(); }

    // Inserts the bytes before the trailing NUL. Growth takes a block of exactly the
    // needed size; the old block is wiped as it goes.
    void append(const char* data, std::size_t count) {
        if (count == 0) {
            return;
        }
        if (bytes_.empty()) {
            bytes_.assign(1, '\0');  // a moved-from buffer
        }
        const std::size_t needed = bytes_.size() + count;
        if (needed <= bytes_.capacity()) {
            bytes_.insert(bytes_.end() - 1, data, data + count);
            return;
        }
        Storage grown;
        grown.reserve(needed);
        grown.insert(grown.end(), bytes_.begin(), bytes_.end() - 1);
        grown.insert(grown.end(), data, data + count);
        grown.push_back('\0');
        wipe();
        bytes_.swap(grown);
    }

    void append(std::string_view text) { append(text.data(), text.size()); }

    // The content followed by a NUL.
    const char* c_str() const { return bytes_.empty() ? "" : bytes_.data(); }
    std::size_t size() const { return bytes_.empty() ? 0 : bytes_.size() - 1; }
    bool empty() const { return size() == 0; }
    std::string_view view() const { return {c_str(), size()}; }
    // Bytes held including the trailing NUL, and the block size behind them.
    std::size_t storedSize() const { return bytes_.size(); }
    std::size_t capacity() const { return bytes_.capacity(); }

private:
    using Storage = std::vector<char, Allocator>;

    void wipe() noexcept {
        if (!bytes_.empty()) {
            OPENSSL_cleanse(bytes_.data(), bytes_.size());
        }
    }

    Storage bytes_;
};

using SecureBuffer = BasicSecureBuffer<WipingAllocator<char>>;

}  // namespace vx::rc::vault_accessor::clients
