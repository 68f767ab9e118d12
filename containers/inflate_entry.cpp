#include "containers/inflate_entry.h"

// Input is never written through next_in.
#define ZLIB_CONST
#include <zlib.h>

#include <new>

#include "containers/archive_limits.h"

struct InflateStream {
    z_stream z{};
    bool started = false;
    uint8_t discard[ArchiveWindowBytes];
};

InflateStream* OpenInflate() {
    auto* stream = new (std::nothrow) InflateStream;
    if (stream == nullptr) return nullptr;
    // Negative window bits: raw deflate, as ZIP stores it.
    if (inflateInit2(&stream->z, -MAX_WBITS) != Z_OK) {
        delete stream;
        return nullptr;
    }
    stream->started = true;
    return stream;
}

void CloseInflate(InflateStream* stream) {
    if (stream == nullptr) return;
    if (stream->started) inflateEnd(&stream->z);
    delete stream;
}

namespace {

// The first capacity of the item buffer for an entry that claims expected
// bytes: the claim may be false, so a small start, then growth.
constexpr uint32_t FirstOutputBytes = 64u << 10;

uint32_t Smaller(uint64_t a, uint32_t b) { return a < b ? static_cast<uint32_t>(a) : b; }

}  // namespace

InflateResult InflateEntry(InflateStream* stream, SourceWindow* window, const InflateRequest& request,
                           ItemBuffer* out) {
    InflateResult result;
    z_stream& z = stream->z;
    if (inflateReset(&z) != Z_OK) {
        result.broken = true;
        return result;
    }
    z.next_in = nullptr;
    z.avail_in = 0;
    uint64_t fed = 0;
    const uint32_t keep = request.keep < ItemBound ? request.keep : ItemBound;
    uint32_t first = request.expected < FirstOutputBytes ? FirstOutputBytes : request.expected;
    if (first > keep) first = keep;
    if (keep > 0 && !ReserveItem(out, first)) {
        result.noMemory = true;
        return result;
    }

    while (result.produced < request.mostOutput) {
        if (z.avail_in == 0 && fed < request.available) {
            const ByteView in =
                WindowView(window, request.offset + fed, Smaller(request.available - fed, ArchiveWindowBytes));
            z.next_in = in.data;
            z.avail_in = in.size;
            fed += in.size;
            if (in.size == 0) fed = request.available;  // the source ended early
        }
        const bool keeping = result.kept < keep;
        if (keeping && result.kept == out->capacity && !ReserveItem(out, result.kept + 1)) {
            result.noMemory = true;
            break;
        }
        uint8_t* target = keeping ? out->data + result.kept : stream->discard;
        const uint32_t room = keeping ? Smaller(keep - result.kept, out->capacity - result.kept)
                                      : static_cast<uint32_t>(ArchiveWindowBytes);
        const uint32_t take = Smaller(request.mostOutput - result.produced, room);
        z.next_out = target;
        z.avail_out = take;
        const uInt inBefore = z.avail_in;
        const int status = inflate(&z, Z_NO_FLUSH);
        const uint32_t made = take - z.avail_out;
        result.produced += made;
        result.consumed += inBefore - z.avail_in;
        if (keeping) result.kept += made;
        if (status == Z_STREAM_END) {
            result.ended = true;
            break;
        }
        // Z_BUF_ERROR: no progress was possible, so the input is used up.
        if (status != Z_OK) {
            result.broken = true;
            break;
        }
        if (request.ratio != 0 && result.produced / request.ratio > result.consumed) {
            result.tooDense = true;
            break;
        }
    }
    z.next_in = nullptr;
    z.avail_in = 0;
    return result;
}

uint32_t EntryCrc32(const uint8_t* data, uint32_t length) {
    return static_cast<uint32_t>(crc32(crc32(0L, Z_NULL, 0), data, length));
}
