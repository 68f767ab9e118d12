// Sequential reading of an archive through one fixed buffer: a request the
// buffer already holds costs nothing, any other reads ArchiveWindowBytes
// from the requested offset, so a walk from front to back reads each byte
// once, in large reads.
#pragma once

#include <cstdint>

#include "containers/contained.h"
#include "engine/bytes.h"

struct SourceWindow {
    const ByteSource* source = nullptr;
    uint8_t* buffer = nullptr;  // ArchiveWindowBytes
    uint64_t offset = 0;
    uint32_t length = 0;
};

// A view of the count bytes (at most ArchiveWindowBytes) at offset; it is
// shorter only where the source ends or a read fails, and stays valid until
// the next call on the window.
ByteView WindowView(SourceWindow* window, uint64_t offset, uint32_t count);

// Copies the count bytes at offset into out: those the window holds, the
// rest straight from the source in one read. Returns how many it copied.
uint32_t WindowCopy(SourceWindow* window, uint64_t offset, uint8_t* out, uint32_t count);

