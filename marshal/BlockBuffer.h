// Growable contiguous byte buffer allocated in whole blocks.
//
// Capacity is always blockCount * BlockSize bytes. Growth allocates exactly
// the number of blocks needed (no doubling), copies the bytes in use and
// frees the old storage, so a buffer appended to in small pieces reallocates
// at most once per block. No buffer grows beyond MaxBlocks blocks; a growth
// that would, or whose allocation fails, leaves storage and content as they
// were and reports failure.
//
// A boundary type: the host's pktcore compiles this same header and the
// module meets its buffers through a Pack (docs/abi.md, "What crosses the
// boundary"), so the members, their order and the absence of virtual
// functions are part of the binary interface. Tidying them breaks every
// host built before.
#pragma once

#include <cstddef>
#include <cstdlib>
#include <cstring>
#include <functional>

#include "marshal/Errors.h"

namespace pakt {

// Block allocator on the C heap.
template <std::size_t BlockSizeV>
struct default_block_allocator_malloc_free {
    static constexpr std::size_t BlockSize = BlockSizeV;
    static char* allocate(std::size_t bytes) { return static_cast<char*>(std::malloc(bytes)); }
    static void deallocate(char* p) { std::free(p); }
};

template <typename Allocator, std::size_t MaxBlocks>
class BasicBlockBuffer {
public:
    static constexpr std::size_t kBlockSize = Allocator::BlockSize;
    static constexpr std::size_t kMaxBlocks = MaxBlocks;

    BasicBlockBuffer() = default;
    BasicBlockBuffer(const BasicBlockBuffer&) = delete;
    BasicBlockBuffer& operator=(const BasicBlockBuffer&) = delete;
    virtual ~BasicBlockBuffer() {
        if (m_pData) Allocator::deallocate(m_pData);
    }

    char* data() { return m_pData; }
    const char* data() const { return m_pData; }
    std::size_t size() const { return m_size; }
    std::size_t blocks() const { return m_blocks; }
    std::size_t capacity() const { return m_blocks * kBlockSize; }

    // Appends n bytes, which may lie inside this buffer. Throws PackError
    // "append buffer overflow" when the buffer cannot grow.
    void append(const void* bytes, std::size_t n) {
        if (n == 0) return;
        // Most appends fit in the current block: this much stays small enough
        // to be inlined into every push, the growth below is a call.
        if (m_blocks * kBlockSize - m_size >= n) {
            std::memmove(m_pData + m_size, bytes, n);
            m_size += n;
            return;
        }
        appendGrowing(static_cast<const char*>(bytes), n);
    }

    // Sets the number of bytes in use; growing zero-fills the new bytes,
    // shrinking keeps the storage. Throws PackError "resize buffer overflow"
    // when the buffer cannot grow.
    void resize(std::size_t n) {
        if (n > m_size) {
            if (!increase_capacity(n - m_size)) throw PackError("resize buffer overflow");
            std::memset(m_pData + m_size, 0, n - m_size);
        }
        m_size = n;
    }

    // Empties the buffer and frees its storage.
    void release() {
        if (m_pData) Allocator::deallocate(m_pData);
        m_pData = nullptr;
        m_size = 0;
        m_blocks = 0;
    }

    // Makes room for n more bytes; false when that would exceed MaxBlocks
    // blocks or the allocation fails.
    bool increase_capacity(std::size_t n) {
        if (n == 0) return true;
        const std::size_t spare = m_blocks * kBlockSize - m_size;
        if (spare >= n) return true;
        const std::size_t need = n - spare;
        const std::size_t newBlocks = m_blocks + need / kBlockSize + (need % kBlockSize ? 1 : 0);
        if (newBlocks > kMaxBlocks) return false;
        char* storage = Allocator::allocate(newBlocks * kBlockSize);
        if (!storage) return false;
        if (m_blocks) {
            std::memcpy(storage, m_pData, m_size);
            Allocator::deallocate(m_pData);
        }
        m_pData = storage;
        m_blocks = newBlocks;
        return true;
    }

private:
    void appendGrowing(const char* source, std::size_t n) {
        // Growth may move the storage; a source inside it moves along.
        const bool inside = m_pData && !std::less<const char*>()(source, m_pData) &&
                            std::less<const char*>()(source, m_pData + m_size);
        const std::size_t sourceOffset = inside ? static_cast<std::size_t>(source - m_pData) : 0;
        if (!increase_capacity(n)) throw PackError("append buffer overflow");
        if (inside) source = m_pData + sourceOffset;
        std::memmove(m_pData + m_size, source, n);
        m_size += n;
    }

    char* m_pData = nullptr;
    std::size_t m_size = 0;
    std::size_t m_blocks = 0;
};

// The one buffer type of the wire code: 16 KiB blocks, at most 65536 of them
// (1 GiB).
using BlockBuffer = BasicBlockBuffer<default_block_allocator_malloc_free<16384>, 65536>;

}  // namespace pakt
