// One read-only view of a file under detection. The headers come in one
// read at offset 0, the file is classified once, a checksummed region is
// read once and its checksum kept for every row that asks for the same
// bytes; the signature table and both detectors take their bytes from here.
// The view has fixed buffers, so detection allocates nothing per file except
// for headers or regions larger than those buffers.
//
// The same view serves bytes from memory, so that the whole engine can be
// driven without a file (fuzzing).
#pragma once

#include <cstdint>

#include "engine/exe_headers.h"
#include "engine/file_io.h"

constexpr uint32_t ViewHeadSize = 4096;
constexpr uint32_t ViewRegionSize = 32768;

struct RegionSum {
    uint32_t offset = 0;
    uint32_t length = 0;
    uint32_t crc = 0;
    bool valid = false;
    bool whole = false;  // false: the bytes could not all be read, and crc means nothing
};

struct FileView {
    // Where bytes the view does not hold come from: an open file or memory.
    FileHandle file = InvalidFileHandle;
    const uint8_t* memory = nullptr;
    uint32_t size = 0;
    bool sizeKnown = false;

    uint32_t kind = KindUndetermined;
    ByteBlock dosHeader;  // points into head
    ByteBlock peHeaders;  // points into head, or a block of its own (ownsPeHeaders)
    bool ownsPeHeaders = false;

    uint8_t head[ViewHeadSize];
    uint32_t headLength = 0;

    uint8_t region[ViewRegionSize];
    uint32_t regionOffset = 0;
    uint32_t regionLength = 0;

    RegionSum sums[2];
    uint32_t nextSum = 0;

    // The end of the furthest bytes any read asked for, whether or not the
    // source had them: over the first bytes of something longer, it tells
    // whether what followed them could have mattered.
    uint64_t reach = 0;
    // Only the reach is wanted: no checksum is computed, and none matches.
    // A match ends detection early, so this can only ask for more bytes,
    // never for fewer.
    bool reachOnly = false;

    FileView() = default;
    FileView(const FileView&) = delete;
    FileView& operator=(const FileView&) = delete;
    ~FileView();
};

// Read the head of an open file (once, at offset 0, never past the end of a
// file whose size is known) and classify it.
void OpenFileView(FileView* view, FileHandle file);
// The same over bytes in memory, which must outlive the view.
void OpenMemoryView(FileView* view, const uint8_t* data, size_t size);

// The classification of a view of file opened here, for callers that keep
// the headers beyond the view. Both outputs are emptied on entry; on return they hold exactly
// the buffers that the kind hands over: dosHeader for 2, 4 and 8, peHeaders
// (248 + 40 * NumberOfSections bytes from e_lfanew) for 4 and 8.
uint32_t ClassifyExecutable(FileHandle file, ByteBlock* dosHeader, ByteBlock* peHeaders);

// True when the kind shares a flag with mask; the caller then owns the
// buffers. Otherwise the buffers are released here.
bool ReadExecutableHeaders(uint32_t mask, FileHandle file, ByteBlock* dosHeader, ByteBlock* peHeaders);

// ReadAt through the view: the buffer is cleared first, positions outside
// the signed 32-bit range and at or past the end give 0, and bytes the view
// holds are copied rather than read again.
uint32_t ViewReadAt(FileView* view, int64_t position, void* buffer, uint32_t count);

// Crc32Raw of length bytes at offset; false when they cannot all be read.
// Length 0 gives 0 without touching the file. Asked twice for the same
// bytes, the view reads and checksums them once, and a region that could not
// be read whole is not tried again.
bool ViewRegionChecksum(FileView* view, uint32_t offset, uint32_t length, uint32_t* checksum);
