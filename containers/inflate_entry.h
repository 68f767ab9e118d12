// Deflated entries through zlib (raw deflate, no zlib or gzip wrapper):
// the first bytes are kept for the item, the rest only counted, and a
// stream that gives more than deflate can is ended.
#pragma once

#include <cstdint>

#include "containers/item_buffer.h"
#include "containers/source_window.h"

// zlib's state and a buffer for output that is not kept; one per reading,
// reset for each entry.
struct InflateStream;
InflateStream* OpenInflate();  // nullptr when memory is short
void CloseInflate(InflateStream* stream);

struct InflateRequest {
    uint64_t offset = 0;      // the first compressed byte
    uint64_t available = 0;   // compressed bytes that belong to the entry at most
    uint32_t keep = 0;        // output bytes kept in the item buffer at most
    uint32_t expected = 0;    // the size the archive claims (only sizes the buffer)
    uint64_t mostOutput = 0;  // output bytes produced at most, kept or not
    uint32_t ratio = 0;       // output bytes per compressed byte at most
};

struct InflateResult {
    uint32_t kept = 0;       // bytes now in the item buffer
    uint64_t produced = 0;   // bytes inflated, kept or not
    uint64_t consumed = 0;   // compressed bytes the stream took
    bool ended = false;      // the stream's final block was reached
    bool broken = false;     // not deflate, or the compressed bytes ran out first
    bool tooDense = false;   // more output per input byte than the ratio allows
    bool noMemory = false;
};

// Inflates from the window's source until the stream ends, mostOutput bytes
// are produced, or it fails. Output past the end of the kept bytes shows
// that the entry has more bytes than were kept.
InflateResult InflateEntry(InflateStream* stream, SourceWindow* window, const InflateRequest& request,
                           ItemBuffer* out);

// The CRC-32 of ZIP and RAR (zlib's).
uint32_t EntryCrc32(const uint8_t* data, uint32_t length);
