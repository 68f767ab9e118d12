#include "containers/zip_records.h"

namespace {

constexpr uint32_t Saturated32 = 0xFFFFFFFFu;
constexpr uint16_t Saturated16 = 0xFFFFu;
constexpr uint16_t Zip64ExtraId = 0x0001;

bool ReadLe64(ByteView view, uint32_t offset, uint64_t* out) {
    uint32_t low = 0;
    uint32_t high = 0;
    if (!FieldFits(view, offset, 8) || !ReadLe32(view, offset, &low) || !ReadLe32(view, offset + 4, &high)) {
        return false;
    }
    *out = (uint64_t{high} << 32) | low;
    return true;
}

bool HasSignature(ByteView view, uint32_t at, uint32_t signature) {
    uint32_t found = 0;
    return ReadLe32(view, at, &found) && found == signature;
}

// The 64-bit field at *at of the ZIP64 extra data replaces value when value
// is saturated (the fields are present only for those, in this order).
void TakeZip64(ByteView data, uint32_t* at, uint64_t* value) {
    if (*value != Saturated32) return;
    uint64_t wide = 0;
    if (!ReadLe64(data, *at, &wide)) return;
    *value = wide;
    *at += 8;
}

}  // namespace

uint32_t ZipSignatureAt(ByteView view, uint32_t at) {
    uint32_t found = 0;
    return ReadLe32(view, at, &found) ? found : 0;
}

bool ParseZipEnd(ByteView view, uint32_t at, ZipEnd* end) {
    uint16_t disk = 0, directoryDisk = 0, diskEntries = 0, entries = 0, comment = 0;
    uint32_t size = 0, offset = 0;
    if (!HasSignature(view, at, ZipEndSignature) || !FieldFits(view, at, 22)) return false;
    if (!ReadLe16(view, at + 4, &disk) || !ReadLe16(view, at + 6, &directoryDisk) ||
        !ReadLe16(view, at + 8, &diskEntries) || !ReadLe16(view, at + 10, &entries) ||
        !ReadLe32(view, at + 12, &size) || !ReadLe32(view, at + 16, &offset) || !ReadLe16(view, at + 20, &comment)) {
        return false;
    }
    end->entries = entries;
    end->directorySize = size;
    end->directoryOffset = offset;
    end->commentLength = comment;
    end->needsZip64 = disk == Saturated16 || directoryDisk == Saturated16 || diskEntries == Saturated16 ||
                      entries == Saturated16 || size == Saturated32 || offset == Saturated32;
    return true;
}

bool ParseZip64Locator(ByteView view, uint32_t at, uint64_t* recordOffset) {
    return HasSignature(view, at, Zip64LocatorSignature) && ReadLe64(view, at + 8, recordOffset);
}

bool ParseZip64End(ByteView view, uint32_t at, ZipEnd* end) {
    ZipEnd wide;
    if (!HasSignature(view, at, Zip64EndSignature) || !ReadLe64(view, at + 32, &wide.entries) ||
        !ReadLe64(view, at + 40, &wide.directorySize) || !ReadLe64(view, at + 48, &wide.directoryOffset)) {
        return false;
    }
    *end = wide;
    return true;
}

bool ParseZipCentral(ByteView view, ZipHeader* header) {
    uint32_t packed = 0, size = 0, offset = 0;
    ZipHeader h;
    if (!HasSignature(view, 0, ZipCentralSignature) || !FieldFits(view, 0, ZipCentralSize)) return false;
    if (!ReadLe16(view, 8, &h.flags) || !ReadLe16(view, 10, &h.method) || !ReadLe32(view, 16, &h.crc) ||
        !ReadLe32(view, 20, &packed) || !ReadLe32(view, 24, &size) || !ReadLe16(view, 28, &h.nameLength) ||
        !ReadLe16(view, 30, &h.extraLength) || !ReadLe16(view, 32, &h.commentLength) ||
        !ReadLe32(view, 42, &offset)) {
        return false;
    }
    h.packed = packed;
    h.size = size;
    h.localOffset = offset;
    *header = h;
    return true;
}

bool ParseZipLocal(ByteView view, ZipHeader* header) {
    uint32_t packed = 0, size = 0;
    ZipHeader h;
    if (!HasSignature(view, 0, ZipLocalSignature) || !FieldFits(view, 0, ZipLocalSize)) return false;
    if (!ReadLe16(view, 6, &h.flags) || !ReadLe16(view, 8, &h.method) || !ReadLe32(view, 14, &h.crc) ||
        !ReadLe32(view, 18, &packed) || !ReadLe32(view, 22, &size) || !ReadLe16(view, 26, &h.nameLength) ||
        !ReadLe16(view, 28, &h.extraLength)) {
        return false;
    }
    h.packed = packed;
    h.size = size;
    *header = h;
    return true;
}

void ApplyZip64Extra(ByteView extra, bool central, ZipHeader* header) {
    uint32_t at = 0;
    uint16_t id = 0;
    uint16_t length = 0;
    while (ReadLe16(extra, at, &id) && ReadLe16(extra, at + 2, &length)) {
        const uint32_t dataAt = at + 4;
        if (!FieldFits(extra, dataAt, length)) return;
        if (id == Zip64ExtraId) {
            const ByteView data{extra.data + dataAt, length};
            uint32_t field = 0;
            TakeZip64(data, &field, &header->size);
            TakeZip64(data, &field, &header->packed);
            if (central) TakeZip64(data, &field, &header->localOffset);
            return;
        }
        at = dataAt + length;
    }
}
