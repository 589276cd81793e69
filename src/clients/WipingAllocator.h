#pragma once

#include <openssl/crypto.h>

#include <cstddef>
#include <new>

namespace vx::rc::vault_accessor::clients {

// Takes blocks from and returns them to the ordinary heap.
struct HeapBlocks {
    static void* acquire(std::size_t bytes) { return ::operator new(bytes); }
    static void release(void* block, std::size_t /*bytes*/) noexcept { ::operator delete(block); }
};

// An allocator that overwrites every block with zeros before giving it back. OPENSSL_cleanse
// is a write the optimiser may not drop, unlike a memset right before a free. Blocks is the
// source of raw memory; tests replace it to look at a block before it is released.
template <typename T, typename Blocks = HeapBlocks>
struct WipingAllocator {
    using value_type = T;

    template <typename U>
    struct rebind {
        using other = WipingAllocator<U, Blocks>;
    };

    WipingAllocator() noexcept = default;
    template <typename U>
    WipingAllocator(const WipingAllocator<U, Blocks>& /*other*/) noexcept {}

    T* allocate(std::size_t count) { return static_cast<T*>(Blocks::acquire(count * sizeof(T))); }

    void deallocate(T* block, std::size_t count) noexcept {
        OPENSSL_cleanse(block, count * sizeof(T));
        Blocks::release(block, count * sizeof(T));
    }

    template <typename U>
    bool operator==(const WipingAllocator<U, Blocks>& /*other*/) const noexcept { return true; }
    template <typename U>
    bool operator!=(const WipingAllocator<U, Blocks>& /*other*/) const noexcept { return false; }
};

}  // namespace vx::rc::vault_accessor::clients
