#include "containers/source_window.h"

#include <cstring>

#include "containers/archive_limits.h"

namespace {

// The window holds [offset, offset + count), or all of it that the source has.
bool Holds(const SourceWindow& window, uint64_t offset, uint32_t count) {
    if (offset < window.offset || offset - window.offset > window.length) return false;
    const uint64_t inside = offset - window.offset;
    if (count <= window.length - inside) return true;
    return window.offset + window.length >= window.source->size;
}

uint32_t ReadSource(const ByteSource& source, uint64_t offset, void* out, uint32_t count) {
    if (offset >= source.size || count == 0) return 0;
    const uint64_t left = source.size - offset;
    const uint32_t take = left < count ? static_cast<uint32_t>(left) : count;
    const uint32_t got = source.readAt(source.context, offset, out, take);
    return got <= take ? got : take;
}

}  // namespace

ByteView WindowView(SourceWindow* window, uint64_t offset, uint32_t count) {
    if (count > ArchiveWindowBytes) count = ArchiveWindowBytes;
    if (!Holds(*window, offset, count)) {
        window->offset = offset;
        window->length = ReadSource(*window->source, offset, window->buffer, ArchiveWindowBytes);
    }
    if (offset < window->offset || offset - window->offset > window->length) return ByteView{window->buffer, 0};
    const auto inside = static_cast<uint32_t>(offset - window->offset);
    const uint32_t left = window->length - inside;
    return ByteView{window->buffer + inside, left < count ? left : count};
}

uint32_t WindowCopy(SourceWindow* window, uint64_t offset, uint8_t* out, uint32_t count) {
    uint32_t copied = 0;
    if (offset >= window->offset && offset - window->offset < window->length) {
        const auto inside = static_cast<uint32_t>(offset - window->offset);
        const uint32_t left = window->length - inside;
        copied = left < count ? left : count;
        std::memcpy(out, window->buffer + inside, copied);
    }
    if (copied == count) return copied;
    return copied + ReadSource(*window->source, offset + copied, out + copied, count - copied);
}
