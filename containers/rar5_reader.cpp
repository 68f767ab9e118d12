// RAR5 archives: after the signature, headers that each carry their own
// CRC-32 and size as variable-length integers, followed by their data area.
// Only file headers are looked into, and only stored files are read; there
// is no decompressor.

#include "containers/archive_limits.h"
#include "containers/archive_run.h"
#include "containers/archive_texts.h"

namespace {

constexpr uint32_t SignatureSize = 8;
constexpr uint8_t Signature[SignatureSize] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
constexpr uint32_t MostVintBytes = 10;

constexpr uint64_t FileHeader = 2;
constexpr uint64_t EncryptionHeader = 4;
constexpr uint64_t EndHeader = 5;

constexpr uint64_t HasExtraArea = 0x0001;
constexpr uint64_t HasDataArea = 0x0002;
constexpr uint64_t DataFromPrevious = 0x0008;
constexpr uint64_t DataIntoNext = 0x0010;

constexpr uint64_t FileIsDirectory = 0x0001;
constexpr uint64_t FileHasTime = 0x0002;
constexpr uint64_t FileHasCrc = 0x0004;
constexpr uint64_t FileEncryptionRecord = 0x01;
constexpr unsigned MethodShift = 7;
constexpr uint64_t MethodMask = 0x7;  // 0: stored

// A variable-length integer at *at: seven bits a byte, low bits first, the
// high bit set on every byte but the last. False when it does not end in
// the view, takes more than ten bytes or does not fit 64 bits.
bool ReadVint(ByteView view, uint32_t* at, uint64_t* value) {
    uint64_t result = 0;
    for (uint32_t i = 0; i < MostVintBytes; ++i) {
        uint8_t byte = 0;
        if (!ReadLe8(view, *at + i, &byte)) return false;
        const uint64_t bits = byte & 0x7Fu;
        if (i == MostVintBytes - 1 && bits > 1) return false;
        result |= bits << (7 * i);
        if ((byte & 0x80u) == 0) {
            *at += i + 1;
            *value = result;
            return true;
        }
    }
    return false;
}

struct Header {
    uint64_t at = 0;
    uint32_t length = 0;       // CRC, size field and header data
    uint32_t specificAt = 0;   // the fields of the header's type, from at
    uint32_t extraAt = 0;      // the extra area, from at
    uint64_t type = 0;
    uint64_t flags = 0;
    uint64_t dataSize = 0;
};

struct FileFields {
    uint64_t flags = 0;
    uint32_t crc = 0;
    uint64_t method = 0;
    uint32_t nameAt = 0;
    uint32_t nameSize = 0;
    bool encrypted = false;
};

// The header's length (CRC, size field and header data) from its first
// bytes; null, or why it cannot be read.
const char* HeaderLength(ByteView first, uint32_t* length) {
    uint32_t cursor = 4;
    uint64_t size = 0;
    if (!ReadVint(first, &cursor, &size) || size == 0) return archive_why::HeaderBroken;
    if (size > ArchiveWindowBytes - cursor) return archive_why::HeaderTooLarge;
    *length = cursor + static_cast<uint32_t>(size);
    return nullptr;
}

// The common fields; view holds the whole header from its CRC on. Null, or
// why the header cannot be read.
const char* ParseHeader(ByteView view, uint64_t at, Header* header) {
    uint32_t crc = 0;
    uint32_t cursor = 4;
    uint64_t size = 0;
    if (!ReadLe32(view, 0, &crc) || !ReadVint(view, &cursor, &size) || size > view.size - cursor) {
        return archive_why::HeaderBroken;
    }
    header->at = at;
    header->length = cursor + static_cast<uint32_t>(size);
    if (EntryCrc32(view.data + 4, header->length - 4) != crc) return archive_why::HeaderCrc;
    const ByteView fields{view.data, header->length};
    uint64_t extraSize = 0;
    if (!ReadVint(fields, &cursor, &header->type) || !ReadVint(fields, &cursor, &header->flags) ||
        ((header->flags & HasExtraArea) != 0 && !ReadVint(fields, &cursor, &extraSize)) ||
        ((header->flags & HasDataArea) != 0 && !ReadVint(fields, &cursor, &header->dataSize)) ||
        extraSize > header->length - cursor) {
        return archive_why::HeaderBroken;
    }
    header->specificAt = cursor;
    header->extraAt = header->length - static_cast<uint32_t>(extraSize);
    return nullptr;
}

// Whether the extra area holds a file encryption record.
bool HasEncryptionRecord(ByteView extra) {
    uint32_t at = 0;
    while (at < extra.size) {
        uint64_t size = 0;
        if (!ReadVint(extra, &at, &size) || size == 0 || size > extra.size - at) return false;
        const uint32_t next = at + static_cast<uint32_t>(size);
        uint64_t type = 0;
        const ByteView record{extra.data + at, static_cast<uint32_t>(size)};
        uint32_t inside = 0;
        if (ReadVint(record, &inside, &type) && type == FileEncryptionRecord) return true;
        at = next;
    }
    return false;
}

bool ParseFileFields(ByteView view, const Header& header, FileFields* file) {
    const ByteView fields{view.data, header.extraAt};
    uint32_t cursor = header.specificAt;
    uint64_t skipped = 0, compression = 0, nameSize = 0;
    if (!ReadVint(fields, &cursor, &file->flags) || !ReadVint(fields, &cursor, &skipped) ||  // unpacked size
        !ReadVint(fields, &cursor, &skipped)) {                                              // attributes
        return false;
    }
    if ((file->flags & FileHasTime) != 0) cursor += 4;
    if ((file->flags & FileHasCrc) != 0) {
        if (!ReadLe32(fields, cursor, &file->crc)) return false;
        cursor += 4;
    }
    if (!ReadVint(fields, &cursor, &compression) || !ReadVint(fields, &cursor, &skipped) ||  // host OS
        !ReadVint(fields, &cursor, &nameSize) || nameSize > fields.size ||
        !FieldFits(fields, cursor, static_cast<uint32_t>(nameSize))) {
        return false;
    }
    file->method = (compression >> MethodShift) & MethodMask;
    file->nameAt = cursor;
    file->nameSize = static_cast<uint32_t>(nameSize);
    file->encrypted = HasEncryptionRecord(ByteView{view.data + header.extraAt, header.length - header.extraAt});
    return true;
}

struct Rar5Reading {
    ArchiveRun* run = nullptr;
    const ByteSource* source = nullptr;
    uint32_t depth = 0;
    SourceWindow window;
};

// A file header. False when the sink said stop.
bool ReadFile(Rar5Reading* r, ByteView view, const Header& header) {
    ArchiveRun* run = r->run;
    FileFields file;
    if (!ParseFileFields(view, header, &file)) {
        NoteDamage(run, r->depth, header.at, archive_why::HeaderBroken);
        NoteUnread(run, r->depth, header.at, nullptr);
        return true;
    }
    if ((file.flags & FileIsDirectory) != 0) return true;
    if ((header.flags & (DataFromPrevious | DataIntoNext)) != 0 || file.encrypted || file.method != 0) {
        NoteUnread(run, r->depth, header.at, nullptr);
        return true;
    }
    EntryText name = EntryName(*run, r->depth);
    AppendUtf8Name(&name, view.data + file.nameAt, file.nameSize);
    EntryData entry;
    entry.header = header.at;
    entry.offset = header.at + header.length;
    entry.packed = header.dataSize;
    entry.size = header.dataSize;
    entry.crc = file.crc;
    entry.crcKnown = (file.flags & FileHasCrc) != 0;
    return ReadEntry(run, r->depth, &r->window, name, entry);
}

}  // namespace

void ReadRar5(ArchiveRun* run, const ByteSource& source, uint64_t start, uint32_t depth) {
    Rar5Reading r;
    r.run = run;
    r.source = &source;
    r.depth = depth;
    if (!OpenMarkedArchive(run, depth, &source, start, Signature, SignatureSize, &r.window)) return;
    // Every header is at least six bytes long, so the chain only goes forward.
    uint64_t at = start + SignatureSize;
    for (uint32_t i = 0; i < MostArchiveEntries; ++i) {
        if (at == source.size) return;
        // The length first, then the header: both come from the window
        // while it holds them. A header larger than the window is refused
        // (RAR writes none).
        uint32_t length = 0;
        const char* why = HeaderLength(WindowView(&r.window, at, 4 + MostVintBytes), &length);
        const ByteView view = why == nullptr ? WindowView(&r.window, at, length) : ByteView{nullptr, 0};
        Header header;
        if (why == nullptr) why = ParseHeader(view, at, &header);
        if (why != nullptr) {
            NoteDamage(run, depth, at, why);
            return;
        }
        if (header.type == EndHeader) return;
        if (header.type == EncryptionHeader) {
            NoteUnread(run, depth, at, archive_why::EncryptedHeaders);
            return;
        }
        const uint64_t dataAt = at + header.length;
        if (!SpanFits(source.size, dataAt, header.dataSize)) {
            NoteDamage(run, depth, at, archive_why::DataOutside);
            if (header.type == FileHeader) NoteUnread(run, depth, at, nullptr);
            return;
        }
        if (header.type == FileHeader && !ReadFile(&r, view, header)) return;
        at = dataAt + header.dataSize;
    }
    NoteUnread(run, depth, at, archive_why::TooMany);
}
