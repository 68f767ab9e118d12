// Every bound the archive readers keep, in one place. An archive is hostile
// input: whatever it claims, reading it costs memory and time in proportion
// to these numbers, never to its own.
#pragma once

#include <cstdint>

// Reads of the archive's own bytes go through windows of this size, and a
// header must fit in one (RAR 4 headers always do; RAR5 ones in practice).
constexpr uint32_t ArchiveWindowBytes = 64u << 10;

// A self-extracting program's archive starts at most this far after the
// program's own bytes (RAR modules pad to a boundary).
constexpr uint32_t AppendedArchiveWindow = 64u << 10;

// The ZIP end record is found within this many bytes of the end: the
// record itself and the largest comment it can carry.
constexpr uint32_t ZipEndRecordSize = 22;
constexpr uint32_t ZipEndSearchBytes = 0xFFFFu + ZipEndRecordSize;

// Entries (ZIP) or headers (RAR) looked at in one archive; what lies past
// them is counted as not examined.
constexpr uint32_t MostArchiveEntries = 1u << 18;

// Deflate cannot give more than about 1032 bytes for each byte it reads; a
// stream that does is no deflate stream, and its entry ends there.
constexpr uint32_t MostInflateRatio = 1100;

// Bytes decoded (inflated or copied) in one reading of an archive, nested
// archives included, beyond the archive's own size: overlapping entries and
// nested bombs cannot make the reading cost more than this. What does not
// fit is not examined.
constexpr uint64_t DecodedBytesAllowance = 256ull << 20;
