// Archives for the readers' tests, written from the public descriptions of
// the formats and nothing else: ZIP (stored and deflated entries, data
// descriptors, ZIP64 sizes and end records, bytes in front), RAR 4 and
// RAR5 (stored entries, and headers for compressed, encrypted and split
// ones, whose data is written as given). The checksums are this library's
// own (Crc32Raw), never the reader's.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/synth.h"

namespace synth {

// The usual CRC-32 of ZIP and RAR: Crc32Raw inverted.
uint32_t ArchiveCrc(const Bytes& data);

// Raw deflate (no zlib wrapper), as ZIP stores it; level 9. With
// emptyBlockLast, an empty stored block (a flush) precedes the final one,
// as streaming writers leave it.
Bytes DeflateRaw(const Bytes& data, bool emptyBlockLast = false);

constexpr uint16_t ZipMethodStored = 0;
constexpr uint16_t ZipMethodDeflated = 8;

struct ZipEntrySpec {
    std::string name;  // raw bytes, as the archive holds them
    Bytes data;        // the entry's bytes
    uint16_t method = ZipMethodStored;  // deflated data is deflated here; other methods store data as it is
    uint16_t flags = 0;  // 0x0001 encrypted, 0x0008 sizes in a data descriptor, 0x0800 UTF-8 name
    bool zip64 = false;  // sizes and offset saturated, kept in a ZIP64 extra field
    bool badCrc = false;  // the recorded CRC has one bit flipped
    // When not empty: the bytes written as the entry's data, with size and
    // crc recorded as given (data is then not used).
    Bytes packed;
    uint64_t size = 0;
    uint32_t crc = 0;
    bool emptyBlockLast = false;  // deflated: see DeflateRaw
};

struct ZipOptions {
    Bytes prefix;                 // bytes in front of the archive (a program)
    bool offsetsFromFile = false;  // offsets count from the file's first byte, not the archive's
    bool zip64End = false;         // ZIP64 end record and locator; the classic end record saturated
    Bytes comment;                 // the archive's comment, after the end record
};

// Where the parts of an archive landed, as offsets in the bytes returned.
struct ZipLayout {
    std::vector<size_t> locals;
    size_t directory = 0;
    size_t end = 0;  // the classic end record
};

Bytes MakeZip(const std::vector<ZipEntrySpec>& entries, const ZipOptions& options = {}, ZipLayout* layout = nullptr);

struct RarEntrySpec {
    std::string name;  // raw bytes
    Bytes data;        // stored as it is (for a compressed entry: its packed bytes)
    bool compressed = false;
    bool directory = false;
    bool encrypted = false;
    bool fromPrevious = false;  // continued from the previous volume
    bool intoNext = false;      // continued in the next volume
    bool badCrc = false;
    std::string unicodeName;    // RAR 4: a second form after a NUL (flag 0x200)
};

struct RarOptions {
    Bytes prefix;                  // bytes in front (a self-extracting module)
    bool encryptedHeaders = false;  // RAR 4: main header flag; RAR5: an archive encryption header
    bool endBlock = true;
};

Bytes MakeRar4(const std::vector<RarEntrySpec>& entries, const RarOptions& options = {});
Bytes MakeRar5(const std::vector<RarEntrySpec>& entries, const RarOptions& options = {});

}  // namespace synth
