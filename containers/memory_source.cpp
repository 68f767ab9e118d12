#include <cstring>

#include "containers/contained.h"

namespace {

uint32_t ReadMemory(const void* context, uint64_t offset, void* buffer, uint32_t count) {
    const auto* bytes = static_cast<const MemoryBytes*>(context);
    if (offset >= bytes->size) return 0;
    const uint64_t left = bytes->size - offset;
    const uint32_t take = left < count ? static_cast<uint32_t>(left) : count;
    std::memcpy(buffer, bytes->data + offset, take);
    return take;
}

}  // namespace

ByteSource MemorySource(const MemoryBytes* bytes) {
    ByteSource source;
    source.context = bytes;
    source.readAt = ReadMemory;
    source.size = bytes->size;
    return source;
}
