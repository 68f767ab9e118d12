// ZIP archives: the central directory names the entries, and each one's
// local header must agree with it before its data is read. Without a usable
// central directory the local headers are walked from the front instead.
#include <cstring>

#include "containers/archive_limits.h"
#include "containers/archive_run.h"
#include "containers/archive_texts.h"
#include "containers/zip_records.h"

namespace {

struct ZipReading {
    ArchiveRun* run = nullptr;
    const ByteSource* source = nullptr;
    uint64_t start = 0;
    uint32_t depth = 0;
    SourceWindow directory;  // the end records and the central directory
    SourceWindow data;       // local headers and the entries' data
    // A walk of the local headers goes on from here: past the data of every
    // entry read so far.
    uint64_t resume = 0;
};

struct ZipDirectory {
    uint64_t first = 0;     // where the central directory starts in the source
    uint64_t end = 0;       // where it ends
    uint64_t entries = 0;
    uint64_t delta = 0;     // added to the offsets it records
};

// The first bytes of an entry's name, and its last byte (a directory's is '/').
struct RawName {
    uint8_t bytes[RawNameBound] = {};
    uint32_t length = 0;  // bytes kept
    uint16_t full = 0;    // the name's length in the archive
    uint8_t last = 0;
};

bool TakeName(SourceWindow* window, uint64_t at, uint16_t length, RawName* name) {
    name->full = length;
    name->length = length < RawNameBound ? length : RawNameBound;
    const ByteView kept = WindowView(window, at, name->length);
    if (kept.size < name->length) return false;
    std::memcpy(name->bytes, kept.data, name->length);
    if (length == 0) return true;
    const ByteView last = WindowView(window, at + length - 1, 1);
    if (last.size < 1) return false;
    name->last = last.data[0];
    return true;
}

bool IsDirectory(const RawName& name, const ZipHeader& header) {
    return name.full > 0 && (name.last == '/' || name.last == '\\') && header.packed == 0 && header.size == 0;
}

EntryText NameText(const ZipReading& z, const RawName& name, uint16_t flags) {
    EntryText text = EntryName(*z.run, z.depth);
    if ((flags & ZipFlagUtf8) != 0) {
        AppendUtf8Name(&text, name.bytes, name.length);
    } else {
        AppendCp437Name(&text, name.bytes, name.length);
    }
    return text;
}

bool Examinable(const ZipHeader& header) {
    return (header.flags & ZipFlagEncrypted) == 0 && (header.method == ZipStored || header.method == ZipDeflated);
}

// The end record nearest the end of the source whose comment fits, searched
// backwards window by window.
bool FindEndRecord(ZipReading* z, uint64_t* at, ZipEnd* end) {
    const uint64_t size = z->source->size;
    if (z->start > size || size - z->start < ZipEndRecordSize) return false;
    const uint64_t lowest = size - z->start > ZipEndSearchBytes ? size - ZipEndSearchBytes : z->start;
    uint64_t chunkEnd = size;
    while (chunkEnd - lowest >= ZipEndRecordSize) {
        const uint64_t chunkStart = chunkEnd - lowest > ArchiveWindowBytes ? chunkEnd - ArchiveWindowBytes : lowest;
        const ByteView view = WindowView(&z->directory, chunkStart, static_cast<uint32_t>(chunkEnd - chunkStart));
        if (view.size < ZipEndRecordSize) return false;
        for (uint32_t p = view.size - ZipEndRecordSize + 1; p-- > 0;) {
            if (view.data[p] != 'P' || !ParseZipEnd(view, p, end)) continue;
            const uint64_t found = chunkStart + p;
            if (end->commentLength <= size - found - ZipEndRecordSize) {
                *at = found;
                return true;
            }
        }
        // Records that start before this chunk end inside its first bytes.
        if (chunkStart == lowest) return false;
        chunkEnd = chunkStart + ZipEndRecordSize - 1;
    }
    return false;
}

// The ZIP64 end record that the locator before the end record at endAt
// names: where it says, or right before the locator, where it always is
// unless the archive was moved.
bool FindZip64End(ZipReading* z, uint64_t endAt, uint64_t* at, ZipEnd* end) {
    if (endAt - z->start < Zip64LocatorSize) return false;
    const uint64_t locatorAt = endAt - Zip64LocatorSize;
    uint64_t recorded = 0;
    if (!ParseZip64Locator(WindowView(&z->directory, locatorAt, Zip64LocatorSize), 0, &recorded)) return false;
    uint64_t candidates[2] = {recorded, locatorAt - Zip64EndSize};
    const uint32_t count = locatorAt - z->start >= Zip64EndSize ? 2 : 1;
    for (uint32_t i = 0; i < count; ++i) {
        if (candidates[i] < z->start || !SpanFits(locatorAt, candidates[i], Zip64EndSize)) continue;
        if (ParseZip64End(WindowView(&z->directory, candidates[i], Zip64EndSize), 0, end)) {
            *at = candidates[i];
            return true;
        }
    }
    return false;
}

bool DirectoryStartsAt(ZipReading* z, uint64_t at) {
    return ZipSignatureAt(WindowView(&z->directory, at, 4), 0) == ZipCentralSignature;
}

// Where the central directory lies. Offsets are recorded from the start of
// the archive or of the file: the distance between the directory's recorded
// end and the record that follows it is the number of bytes in front.
bool FindDirectory(ZipReading* z, ZipDirectory* directory) {
    ArchiveRun* run = z->run;
    uint64_t endAt = 0;
    ZipEnd end;
    if (!FindEndRecord(z, &endAt, &end)) {
        NoteDamage(run, z->depth, z->source->size, archive_why::NoEndRecord);
        return false;
    }
    uint64_t followsAt = endAt;
    if (end.needsZip64 && !FindZip64End(z, endAt, &followsAt, &end)) {
        NoteDamage(run, z->depth, endAt, archive_why::NoZip64Record);
        return false;
    }
    if (!SpanFits(followsAt, end.directoryOffset, end.directorySize) || followsAt - end.directorySize < z->start) {
        NoteDamage(run, z->depth, endAt, archive_why::DirectoryOutside);
        return false;
    }
    directory->entries = end.entries;
    directory->delta = followsAt - (end.directoryOffset + end.directorySize);
    directory->first = followsAt - end.directorySize;
    directory->end = followsAt;
    if (end.entries == 0 || DirectoryStartsAt(z, directory->first)) return true;
    // Something else between the directory and its end record: then the
    // offsets are as recorded.
    if (directory->delta != 0 && end.directoryOffset >= z->start && DirectoryStartsAt(z, end.directoryOffset)) {
        directory->delta = 0;
        directory->first = end.directoryOffset;
        directory->end = end.directoryOffset + end.directorySize;
        return true;
    }
    NoteDamage(run, z->depth, directory->first, archive_why::DirectoryOutside);
    return false;
}

// The local header at local agrees with the central one: signature, method
// and name, and sizes and CRC unless a data descriptor holds them. Gives
// where the data starts.
bool LocalAgrees(ZipReading* z, uint64_t local, const ZipHeader& central, const RawName& name, uint64_t* dataAt) {
    ZipHeader header;
    if (!ParseZipLocal(WindowView(&z->data, local, ZipLocalSize), &header)) return false;
    if (header.method != central.method || header.nameLength != central.nameLength) return false;
    const ByteView localName = WindowView(&z->data, local + ZipLocalSize, name.length);
    if (localName.size < name.length || std::memcmp(localName.data, name.bytes, name.length) != 0) return false;
    const uint64_t extraAt = local + ZipLocalSize + header.nameLength;
    ApplyZip64Extra(WindowView(&z->data, extraAt, header.extraLength), false, &header);
    if (((header.flags | central.flags) & ZipFlagDescriptor) == 0 &&
        (header.crc != central.crc || header.packed != central.packed || header.size != central.size)) {
        return false;
    }
    *dataAt = extraAt + header.extraLength;
    return true;
}

// One entry of the central directory, whose record is at `record`. False
// when the sink said stop.
bool ReadCentralEntry(ZipReading* z, const ZipDirectory& directory, uint64_t record, const ZipHeader& central,
                      const RawName& name) {
    ArchiveRun* run = z->run;
    const uint64_t size = z->source->size;
    if (IsDirectory(name, central)) return true;
    if (central.localOffset > size || directory.delta > size - central.localOffset) {
        NoteDamage(run, z->depth, record, archive_why::DataOutside);
        NoteUnread(run, z->depth, record, nullptr);
        return true;
    }
    const uint64_t local = central.localOffset + directory.delta;
    if (!Examinable(central)) {
        NoteUnread(run, z->depth, local, nullptr);
        return true;
    }
    uint64_t dataAt = 0;
    if (!LocalAgrees(z, local, central, name, &dataAt)) {
        NoteDamage(run, z->depth, local, archive_why::LocalMismatch);
        NoteUnread(run, z->depth, local, nullptr);
        return true;
    }
    if (!SpanFits(size, dataAt, central.packed)) {
        NoteDamage(run, z->depth, local, archive_why::DataOutside);
        NoteUnread(run, z->depth, local, nullptr);
        return true;
    }
    EntryData entry;
    entry.header = local;
    entry.offset = dataAt;
    entry.packed = central.packed;
    entry.size = central.size;
    entry.crc = central.crc;
    entry.crcKnown = true;
    entry.deflated = central.method == ZipDeflated;
    if (dataAt + central.packed > z->resume) z->resume = dataAt + central.packed;
    return ReadEntry(run, z->depth, &z->data, NameText(*z, name, central.flags), entry);
}

void WalkLocalHeaders(ZipReading* z, uint64_t from);

// The central directory, entry by entry; where it breaks off, the local
// headers after the entries read so far.
void ReadDirectory(ZipReading* z, const ZipDirectory& directory) {
    ArchiveRun* run = z->run;
    const uint64_t count = directory.entries < MostArchiveEntries ? directory.entries : MostArchiveEntries;
    uint64_t at = directory.first;
    for (uint64_t i = 0; i < count; ++i) {
        ZipHeader central;
        if (!SpanFits(directory.end, at, ZipCentralSize) ||
            !ParseZipCentral(WindowView(&z->directory, at, ZipCentralSize), &central)) {
            NoteDamage(run, z->depth, at, archive_why::DirectoryBroken);
            WalkLocalHeaders(z, z->resume);
            return;
        }
        const uint64_t variable = uint64_t{central.nameLength} + central.extraLength + central.commentLength;
        RawName name;
        if (!SpanFits(directory.end, at + ZipCentralSize, variable) ||
            !TakeName(&z->directory, at + ZipCentralSize, central.nameLength, &name)) {
            NoteDamage(run, z->depth, at, archive_why::DirectoryBroken);
            WalkLocalHeaders(z, z->resume);
            return;
        }
        ApplyZip64Extra(WindowView(&z->directory, at + ZipCentralSize + central.nameLength, central.extraLength),
                        true, &central);
        const uint64_t record = at;
        at += ZipCentralSize + variable;
        if (!ReadCentralEntry(z, directory, record, central, name)) return;
    }
    if (directory.entries > count) {
        const uint64_t left = directory.entries - count;
        NoteUnread(run, z->depth, at, archive_why::TooMany, left < UINT32_MAX ? static_cast<uint32_t>(left) : UINT32_MAX);
    }
}

// The data descriptor after a deflated entry of unknown size: its CRC, and
// where the next header starts (the descriptor's sizes are 4 or 8 bytes,
// the one whose compressed size matches is the one written).
bool ReadDescriptor(ZipReading* z, uint64_t at, uint64_t packed, uint32_t* crc, uint64_t* next) {
    const ByteView view = WindowView(&z->data, at, 28);
    const uint32_t fields = ZipSignatureAt(view, 0) == ZipDescriptorSignature ? 4 : 0;
    uint32_t low = 0;
    uint32_t high = 0;
    if (!ReadLe32(view, fields, crc) || !ReadLe32(view, fields + 4, &low)) return false;
    const bool wide = low != packed && ReadLe32(view, fields + 8, &high) && ((uint64_t{high} << 32) | low) == packed;
    *next = at + fields + (wide ? 20 : 12);
    return true;
}

// The local headers from `from` on, as far as they chain: stored entries
// and deflated ones, whose end the stream itself shows when their size is
// not in the header.
void WalkLocalHeaders(ZipReading* z, uint64_t from) {
    ArchiveRun* run = z->run;
    const uint64_t size = z->source->size;
    uint64_t at = from;
    for (uint32_t i = 0; i < MostArchiveEntries; ++i) {
        if (at >= size) return;
        const uint32_t signature = ZipSignatureAt(WindowView(&z->data, at, 4), 0);
        if (signature == ZipCentralSignature || signature == ZipEndSignature || signature == Zip64EndSignature) return;
        if (signature == ZipDescriptorSignature) {
            // After an entry whose central record was read: 16 or 24 bytes.
            const uint64_t narrow = at + 16;
            at = ZipSignatureAt(WindowView(&z->data, narrow, 4), 0) == ZipLocalSignature ? narrow : at + 24;
            continue;
        }
        ZipHeader header;
        RawName name;
        if (!ParseZipLocal(WindowView(&z->data, at, ZipLocalSize), &header) ||
            !TakeName(&z->data, at + ZipLocalSize, header.nameLength, &name)) {
            NoteDamage(run, z->depth, at, archive_why::LocalExpected);
            return;
        }
        const uint64_t extraAt = at + ZipLocalSize + header.nameLength;
        ApplyZip64Extra(WindowView(&z->data, extraAt, header.extraLength), false, &header);
        const uint64_t dataAt = extraAt + header.extraLength;
        if (dataAt > size) {
            NoteDamage(run, z->depth, at, archive_why::DataOutside);
            return;
        }
        EntryData entry;
        entry.header = at;
        entry.offset = dataAt;
        entry.deflated = header.method == ZipDeflated;
        if ((header.flags & ZipFlagDescriptor) == 0) {
            if (!SpanFits(size, dataAt, header.packed)) {
                NoteDamage(run, z->depth, at, archive_why::DataOutside);
                NoteUnread(run, z->depth, at, nullptr);
                return;
            }
            const uint64_t next = dataAt + header.packed;
            if (!IsDirectory(name, header)) {
                if (!Examinable(header)) {
                    NoteUnread(run, z->depth, at, nullptr);
                } else {
                    entry.packed = header.packed;
                    entry.size = header.size;
                    entry.crc = header.crc;
                    entry.crcKnown = true;
                    if (!ReadEntry(run, z->depth, &z->data, NameText(*z, name, header.flags), entry)) return;
                }
            }
            at = next;
            continue;
        }
        if (!Examinable(header) || !entry.deflated) {
            NoteDamage(run, z->depth, at, archive_why::UnknownSize);
            NoteUnread(run, z->depth, at, nullptr);
            return;
        }
        entry.packed = size - dataAt;
        entry.toStreamEnd = true;
        DecodedEntry decoded;
        const bool any = DecodeEntry(run, z->depth, &z->data, entry, &decoded);
        uint64_t next = 0;
        uint32_t crc = 0;
        const bool found = decoded.ended && ReadDescriptor(z, dataAt + decoded.consumed, decoded.consumed, &crc, &next);
        if (found && decoded.whole && crc != decoded.crc) decoded.crcMismatch = true;
        if (any && !HandOverEntry(run, z->depth, NameText(*z, name, header.flags), decoded, at)) return;
        if (!found) {
            // A stream cut short by the budget is not damage; the budget was noted.
            if (decoded.ended || run->budget > 0) NoteDamage(run, z->depth, at, archive_why::UnknownSize);
            return;
        }
        at = next;
    }
    NoteUnread(run, z->depth, at, archive_why::TooMany);
}

}  // namespace

void ReadZip(ArchiveRun* run, const ByteSource& source, uint64_t start, uint32_t depth) {
    ZipReading z;
    z.run = run;
    z.source = &source;
    z.start = start;
    z.depth = depth;
    z.resume = start;
    if (!OpenWindow(run, depth, 0, &source, &z.directory) || !OpenWindow(run, depth, 1, &source, &z.data)) {
        NoteUnread(run, depth, start, archive_why::NoMemory);
        return;
    }
    ZipDirectory directory;
    if (!FindDirectory(&z, &directory)) {
        WalkLocalHeaders(&z, start);
        return;
    }
    ReadDirectory(&z, directory);
}
