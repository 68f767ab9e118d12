#include <cstdlib>
#include <cstring>

#include "adapters/seams.h"
#include "engine/file_io.h"

void* BlockAlloc(size_t size) {
    void* block = std::malloc(size);
    if (block != nullptr) seamLiveBlocks.fetch_add(1, std::memory_order_relaxed);
    return block;
}

void BlockFree(void* block) {
    if (block != nullptr) seamLiveBlocks.fetch_sub(1, std::memory_order_relaxed);
    std::free(block);
}

void* FillBytes(void* buffer, int value, uint32_t count) {
    auto* bytes = static_cast<unsigned char*>(buffer);
    const auto byte = static_cast<unsigned char>(value);
    const uint32_t word = 0x01010101u * byte;
    const uint32_t words = count / 4;
    // Word-wide stores through memcpy: the buffer need not be aligned.
    for (uint32_t i = 0; i < words; ++i) std::memcpy(bytes + 4 * i, &word, 4);
    for (uint32_t i = words * 4; i < count; ++i) bytes[i] = byte;
    return buffer;
}
