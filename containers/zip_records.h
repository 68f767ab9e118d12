// The fixed records of a ZIP archive, read from bytes through the checked
// reader: the end of central directory record and its ZIP64 forms, the
// central and local file headers, and the ZIP64 extra field.
#pragma once

#include <cstdint>

#include "engine/bytes.h"

constexpr uint32_t ZipLocalSignature = 0x04034B50u;
constexpr uint32_t ZipCentralSignature = 0x02014B50u;
constexpr uint32_t ZipEndSignature = 0x06054B50u;
constexpr uint32_t Zip64EndSignature = 0x06064B50u;
constexpr uint32_t Zip64LocatorSignature = 0x07064B50u;
constexpr uint32_t ZipDescriptorSignature = 0x08074B50u;

constexpr uint32_t ZipLocalSize = 30;
constexpr uint32_t ZipCentralSize = 46;
constexpr uint32_t Zip64EndSize = 56;
constexpr uint32_t Zip64LocatorSize = 20;

constexpr uint16_t ZipFlagEncrypted = 0x0001;
constexpr uint16_t ZipFlagDescriptor = 0x0008;  // sizes and CRC follow the data
constexpr uint16_t ZipFlagUtf8 = 0x0800;
constexpr uint16_t ZipStored = 0;
constexpr uint16_t ZipDeflated = 8;

struct ZipEnd {
    uint64_t entries = 0;
    uint64_t directorySize = 0;
    uint64_t directoryOffset = 0;
    uint16_t commentLength = 0;
    bool needsZip64 = false;  // a field is saturated: the ZIP64 record holds it
};

// The end record at view[at]; false unless its signature and fields are there.
bool ParseZipEnd(ByteView view, uint32_t at, ZipEnd* end);
bool ParseZip64Locator(ByteView view, uint32_t at, uint64_t* recordOffset);
bool ParseZip64End(ByteView view, uint32_t at, ZipEnd* end);

// A central (46 bytes) or local (30 bytes) file header; the local one has
// no comment and no offset.
struct ZipHeader {
    uint16_t flags = 0;
    uint16_t method = 0;
    uint32_t crc = 0;
    uint64_t packed = 0;
    uint64_t size = 0;
    uint16_t nameLength = 0;
    uint16_t extraLength = 0;
    uint16_t commentLength = 0;
    uint64_t localOffset = 0;
};

bool ParseZipCentral(ByteView view, ZipHeader* header);
bool ParseZipLocal(ByteView view, ZipHeader* header);

// The saturated sizes (and, central, the offset) from the ZIP64 extra field
// (0x0001) in the header's extra bytes; fields it lacks stay saturated.
void ApplyZip64Extra(ByteView extra, bool central, ZipHeader* header);

// The four-byte signature at view[at], or 0.
uint32_t ZipSignatureAt(ByteView view, uint32_t at);
