// A pool of buffer memory blocks. Released blocks stay in the pool and are handed out again, so the
// streaming path never allocates. Every operation runs under the pool's own lock.
#pragma once

#include <cstddef>
#include <cstdint>
#include <mutex>
#include <vector>

namespace tunefold {

// Allocation flags, as the platform's global memory calls take them.
constexpr unsigned GMEM_FIXED = 0x0000;
constexpr unsigned GMEM_MOVEABLE = 0x0002;
constexpr unsigned GMEM_ZEROINIT = 0x0040;
constexpr unsigned GHND = GMEM_MOVEABLE | GMEM_ZEROINIT;
constexpr unsigned GPTR = GMEM_FIXED | GMEM_ZEROINIT;

class TMMAllocator {
public:
    TMMAllocator() = default;
    ~TMMAllocator();
    TMMAllocator(const TMMAllocator&) = delete;
    TMMAllocator& operator=(const TMMAllocator&) = delete;

    // The first idle block of exactly `bytes`; else every idle block is freed and a new one made.
    // Null when the memory is refused.
    void* AllocateExact(unsigned flags, std::size_t bytes);
    // The first idle block of exactly `bytes`, else the first idle one at least that large, else a
    // new block (nothing is freed first).
    void* AllocateFit(unsigned flags, std::size_t bytes);
    // Gives a block back to the pool and sets the pointer to null; a pointer the pool does not know
    // is left untouched.
    void ReleaseBlock(void*& block);
    template <typename T>
    void ReleaseBlock(T*& block) {
        void* p = block;
        ReleaseBlock(p);
        if (p == nullptr) {
            block = nullptr;
        }
    }
    void PurgeIdle();
    void FreeAllBlocks();

    // Inspection (tests, diagnostics).
    std::size_t BlockCount() const;
    std::size_t IdleCount() const;

private:
    struct Entry {
        void* block;
        std::size_t size;
        int useCount;
    };
    void* NewBlock(unsigned flags, std::size_t bytes);
    void FreeIdleLocked();

    mutable std::recursive_mutex lock_;
    std::vector<Entry> entries_;
};

} // namespace tunefold
