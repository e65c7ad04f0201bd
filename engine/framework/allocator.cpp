#include "engine/framework/allocator.h"

#include <algorithm>
#include <cstdlib>
#include <new>

namespace tunefold {

TMMAllocator::~TMMAllocator() {
    FreeAllBlocks();
}

void* TMMAllocator::NewBlock(unsigned flags, std::size_t bytes) {
    // Blocks are 64-byte aligned so buffers suit the vector kernels that process them.
    const std::size_t size = std::max<std::size_t>((bytes + 63) & ~std::size_t{63}, 64);
    void* block = std::aligned_alloc(64, size);
    if (block == nullptr) {
        return nullptr;
    }
    if ((flags & GMEM_ZEROINIT) != 0) {
        std::fill_n(static_cast<unsigned char*>(block), size, 0);
    }
    try {
        entries_.push_back({block, bytes, 1});
    } catch (const std::bad_alloc&) {
        std::free(block);
        return nullptr;
    }
    return block;
}

void TMMAllocator::FreeIdleLocked() {
    auto idle = [](const Entry& e) { return e.useCount == 0; };
    for (const Entry& e : entries_) {
        if (idle(e)) {
            std::free(e.block);
        }
    }
    entries_.erase(std::remove_if(entries_.begin(), entries_.end(), idle), entries_.end());
}

namespace {
// A block handed out again is cleared when the caller asked for zero-filled memory.
void* Reuse(void* block, std::size_t bytes, unsigned flags) {
    if ((flags & GMEM_ZEROINIT) != 0) {
        std::fill_n(static_cast<unsigned char*>(block), bytes, 0);
    }
    return block;
}
} // namespace

void* TMMAllocator::AllocateExact(unsigned flags, std::size_t bytes) {
    std::lock_guard lock(lock_);
    for (Entry& e : entries_) {
        if (e.useCount == 0 && e.size == bytes) {
            ++e.useCount;
            return Reuse(e.block, bytes, flags);
        }
    }
    FreeIdleLocked();
    return NewBlock(flags, bytes);
}

void* TMMAllocator::AllocateFit(unsigned flags, std::size_t bytes) {
    std::lock_guard lock(lock_);
    for (Entry& e : entries_) {
        if (e.useCount == 0 && e.size == bytes) {
            ++e.useCount;
            return Reuse(e.block, bytes, flags);
        }
    }
    for (Entry& e : entries_) {
        if (e.useCount == 0 && e.size >= bytes) {
            ++e.useCount;
            return Reuse(e.block, bytes, flags);
        }
    }
    return NewBlock(flags, bytes);
}

void TMMAllocator::ReleaseBlock(void*& block) {
    std::lock_guard lock(lock_);
    for (Entry& e : entries_) {
        if (e.block == block) {
            if (e.useCount > 0) {
                --e.useCount;
            }
            block = nullptr;
            return;
        }
    }
}

void TMMAllocator::PurgeIdle() {
    std::lock_guard lock(lock_);
    FreeIdleLocked();
}

void TMMAllocator::FreeAllBlocks() {
    std::lock_guard lock(lock_);
    for (const Entry& e : entries_) {
        std::free(e.block);
    }
    entries_.clear();
}

std::size_t TMMAllocator::BlockCount() const {
    std::lock_guard lock(lock_);
    return entries_.size();
}

std::size_t TMMAllocator::IdleCount() const {
    std::lock_guard lock(lock_);
    return static_cast<std::size_t>(
        std::count_if(entries_.begin(), entries_.end(), [](const Entry& e) { return e.useCount == 0; }));
}

} // namespace tunefold
