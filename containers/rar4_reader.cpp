// RAR 1.5 to 4.x archives: a chain of blocks after the marker, each behind a
// header that gives its size. Only file headers are looked into, and only
// stored files are read; there is no decompressor.

#include "containers/archive_limits.h"
#include "containers/archive_run.h"
#include "containers/archive_texts.h"

namespace {

constexpr uint32_t MarkerSize = 7;
constexpr uint32_t BaseHeaderSize = 7;  // HEAD_CRC, HEAD_TYPE, HEAD_FLAGS, HEAD_SIZE
constexpr uint32_t FileHeaderSize = 32;  // up to ATTR
constexpr uint32_t LargeFileHeaderSize = 40;  // with HIGH_PACK_SIZE and HIGH_UNP_SIZE

constexpr uint8_t MainBlock = 0x73;
constexpr uint8_t FileBlock = 0x74;
constexpr uint8_t ServiceBlock = 0x7A;
constexpr uint8_t EndBlock = 0x7B;

constexpr uint16_t HasAddSize = 0x8000;
constexpr uint16_t MainHeadersEncrypted = 0x0080;
constexpr uint16_t FileFromPrevious = 0x0001;
constexpr uint16_t FileIntoNext = 0x0002;
constexpr uint16_t FileEncrypted = 0x0004;
constexpr uint16_t FileDictionaryBits = 0x00E0;  // all set: a directory
constexpr uint16_t FileLarge = 0x0100;
constexpr uint16_t FileUnicodeName = 0x0200;
constexpr uint8_t MethodStore = 0x30;

constexpr uint8_t Marker[MarkerSize] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};

struct Block {
    uint64_t at = 0;
    uint8_t type = 0;
    uint16_t flags = 0;
    uint16_t headerSize = 0;
    uint64_t dataSize = 0;  // the bytes after the header that belong to the block
};

struct FileFields {
    uint64_t packed = 0;
    uint32_t crc = 0;
    uint8_t method = 0;
    uint16_t nameSize = 0;
    uint32_t nameAt = 0;
};

// The name before the NUL is in the DOS code page; after it comes an
// encoded Unicode form. Without a NUL a name marked Unicode is UTF-8.
void AppendName(EntryText* text, const uint8_t* raw, uint16_t size, uint16_t flags) {
    if ((flags & FileUnicodeName) == 0) {
        AppendCp437Name(text, raw, size);
        return;
    }
    for (uint16_t i = 0; i < size; ++i) {
        if (raw[i] == 0) {
            AppendCp437Name(text, raw, i);
            return;
        }
    }
    AppendUtf8Name(text, raw, size);
}

bool ParseFileFields(ByteView header, uint16_t flags, FileFields* file) {
    uint32_t packedLow = 0, packedHigh = 0;
    file->nameAt = (flags & FileLarge) != 0 ? LargeFileHeaderSize : FileHeaderSize;
    if (!ReadLe32(header, 7, &packedLow) || !ReadLe32(header, 16, &file->crc) || !ReadLe8(header, 25, &file->method) ||
        !ReadLe16(header, 26, &file->nameSize)) {
        return false;
    }
    if ((flags & FileLarge) != 0 && !ReadLe32(header, 32, &packedHigh)) return false;
    file->packed = (uint64_t{packedHigh} << 32) | packedLow;
    return FieldFits(header, file->nameAt, file->nameSize);
}

struct Rar4Reading {
    ArchiveRun* run = nullptr;
    const ByteSource* source = nullptr;
    uint32_t depth = 0;
    SourceWindow window;
};

// A file block. False when the reading ends (the sink said stop, or the
// data runs past the end of the source).
bool ReadFile(Rar4Reading* r, const Block& block) {
    ArchiveRun* run = r->run;
    const ByteView header = WindowView(&r->window, block.at, block.headerSize);
    FileFields file;
    if (header.size < block.headerSize || !ParseFileFields(header, block.flags, &file)) {
        NoteDamage(run, r->depth, block.at, archive_why::HeaderBroken);
        NoteUnread(run, r->depth, block.at, nullptr);
        return true;
    }
    uint16_t headerCrc = 0;
    (void)ReadLe16(header, 0, &headerCrc);
    if ((EntryCrc32(header.data + 2, header.size - 2) & 0xFFFFu) != headerCrc) {
        NoteDamage(run, r->depth, block.at, archive_why::HeaderCrc);
        NoteUnread(run, r->depth, block.at, nullptr);
        return true;
    }
    if ((block.flags & FileDictionaryBits) == FileDictionaryBits) return true;
    const uint64_t dataAt = block.at + block.headerSize;
    if (!SpanFits(r->source->size, dataAt, file.packed)) {
        NoteDamage(run, r->depth, block.at, archive_why::DataOutside);
        NoteUnread(run, r->depth, block.at, nullptr);
        return false;
    }
    if ((block.flags & (FileFromPrevious | FileIntoNext | FileEncrypted)) != 0 || file.method != MethodStore) {
        NoteUnread(run, r->depth, block.at, nullptr);
        return true;
    }
    EntryText name = EntryName(*run, r->depth);
    AppendName(&name, header.data + file.nameAt, file.nameSize, block.flags);
    EntryData entry;
    entry.header = block.at;
    entry.offset = dataAt;
    entry.packed = file.packed;
    entry.size = file.packed;
    entry.crc = file.crc;
    entry.crcKnown = true;
    return ReadEntry(run, r->depth, &r->window, name, entry);
}

// The block header at `at`; false when it is broken or runs past the source.
bool ReadBlock(Rar4Reading* r, uint64_t at, Block* block) {
    const ByteView base = WindowView(&r->window, at, LargeFileHeaderSize);
    block->at = at;
    if (!ReadLe8(base, 2, &block->type) || !ReadLe16(base, 3, &block->flags) ||
        !ReadLe16(base, 5, &block->headerSize) || block->headerSize < BaseHeaderSize ||
        !SpanFits(r->source->size, at, block->headerSize)) {
        return false;
    }
    uint32_t low = 0, high = 0;
    if (block->type == FileBlock || block->type == ServiceBlock) {
        // Their data size is the packed size, with its high half when large.
        if (block->headerSize < FileHeaderSize || !ReadLe32(base, 7, &low)) return false;
        if ((block->flags & FileLarge) != 0 &&
            (block->headerSize < LargeFileHeaderSize || !ReadLe32(base, 32, &high))) {
            return false;
        }
    } else if ((block->flags & HasAddSize) != 0) {
        if (block->headerSize < BaseHeaderSize + 4 || !ReadLe32(base, 7, &low)) return false;
    }
    block->dataSize = (uint64_t{high} << 32) | low;
    return true;
}

}  // namespace

void ReadRar4(ArchiveRun* run, const ByteSource& source, uint64_t start, uint32_t depth) {
    Rar4Reading r;
    r.run = run;
    r.source = &source;
    r.depth = depth;
    if (!OpenMarkedArchive(run, depth, &source, start, Marker, MarkerSize, &r.window)) return;
    // Every block is at least 7 bytes long, so the chain only goes forward.
    uint64_t at = start + MarkerSize;
    for (uint32_t i = 0; i < MostArchiveEntries; ++i) {
        // Archives before RAR 3 end without an end block.
        if (at == source.size) return;
        Block block;
        if (!ReadBlock(&r, at, &block)) {
            NoteDamage(run, depth, at, archive_why::HeaderBroken);
            return;
        }
        if (block.type == EndBlock) return;
        if (block.type == MainBlock && (block.flags & MainHeadersEncrypted) != 0) {
            NoteUnread(run, depth, at, archive_why::EncryptedHeaders);
            return;
        }
        if (block.type == FileBlock && !ReadFile(&r, block)) return;
        const uint64_t dataAt = at + block.headerSize;
        if (!SpanFits(source.size, dataAt, block.dataSize)) {
            NoteDamage(run, depth, at, archive_why::DataOutside);
            return;
        }
        at = dataAt + block.dataSize;
    }
    NoteUnread(run, depth, at, archive_why::TooMany);
}
