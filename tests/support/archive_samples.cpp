#include "tests/support/archive_samples.h"

#include <zlib.h>

namespace synth {

namespace {

void Put8(Bytes& out, uint8_t value) { out.push_back(value); }
void Put16(Bytes& out, uint16_t value) {
    out.push_back(static_cast<uint8_t>(value));
    out.push_back(static_cast<uint8_t>(value >> 8));
}
void Put32(Bytes& out, uint32_t value) {
    Put16(out, static_cast<uint16_t>(value));
    Put16(out, static_cast<uint16_t>(value >> 16));
}
void Put64(Bytes& out, uint64_t value) {
    Put32(out, static_cast<uint32_t>(value));
    Put32(out, static_cast<uint32_t>(value >> 32));
}
void PutText(Bytes& out, const std::string& text) { out.insert(out.end(), text.begin(), text.end()); }
void PutBytes(Bytes& out, const Bytes& bytes) { out.insert(out.end(), bytes.begin(), bytes.end()); }

// ------------------------------------------------------------ ZIP

constexpr uint32_t Saturated = 0xFFFFFFFFu;

struct ZipRecord {
    Bytes packed;
    uint64_t size = 0;
    uint32_t crc = 0;
    uint64_t localOffset = 0;  // as recorded
};

ZipRecord Prepare(const ZipEntrySpec& spec) {
    ZipRecord record;
    if (!spec.packed.empty()) {
        record.packed = spec.packed;
        record.size = spec.size;
        record.crc = spec.crc;
    } else {
        record.packed = spec.method == ZipMethodDeflated ? DeflateRaw(spec.data, spec.emptyBlockLast) : spec.data;
        record.size = spec.data.size();
        record.crc = ArchiveCrc(spec.data);
    }
    if (spec.badCrc) record.crc ^= 0x00010000u;
    return record;
}

// The ZIP64 extra field: the sizes (and, central, the offset) in order.
Bytes Zip64Extra(const ZipRecord& record, bool central) {
    Bytes extra;
    Put16(extra, 0x0001);
    Put16(extra, central ? 24 : 16);
    Put64(extra, record.size);
    Put64(extra, record.packed.size());
    if (central) Put64(extra, record.localOffset);
    return extra;
}

void PutLocal(Bytes& out, const ZipEntrySpec& spec, const ZipRecord& record) {
    const bool descriptor = (spec.flags & 0x0008) != 0;
    const Bytes extra = spec.zip64 ? Zip64Extra(record, false) : Bytes{};
    Put32(out, 0x04034B50u);
    Put16(out, spec.zip64 ? 45 : 20);
    Put16(out, spec.flags);
    Put16(out, spec.method);
    Put16(out, 0);       // time
    Put16(out, 0x0021);  // 1 January 1980
    Put32(out, descriptor ? 0 : record.crc);
    Put32(out, descriptor ? 0 : spec.zip64 ? Saturated : static_cast<uint32_t>(record.packed.size()));
    Put32(out, descriptor ? 0 : spec.zip64 ? Saturated : static_cast<uint32_t>(record.size));
    Put16(out, static_cast<uint16_t>(spec.name.size()));
    Put16(out, static_cast<uint16_t>(extra.size()));
    PutText(out, spec.name);
    PutBytes(out, extra);
    PutBytes(out, record.packed);
    if (descriptor) {
        Put32(out, 0x08074B50u);
        Put32(out, record.crc);
        if (spec.zip64) {
            Put64(out, record.packed.size());
            Put64(out, record.size);
        } else {
            Put32(out, static_cast<uint32_t>(record.packed.size()));
            Put32(out, static_cast<uint32_t>(record.size));
        }
    }
}

void PutCentral(Bytes& out, const ZipEntrySpec& spec, const ZipRecord& record) {
    const Bytes extra = spec.zip64 ? Zip64Extra(record, true) : Bytes{};
    Put32(out, 0x02014B50u);
    Put16(out, 20);  // made by: MS-DOS, 2.0
    Put16(out, spec.zip64 ? 45 : 20);
    Put16(out, spec.flags);
    Put16(out, spec.method);
    Put16(out, 0);
    Put16(out, 0x0021);
    Put32(out, record.crc);
    Put32(out, spec.zip64 ? Saturated : static_cast<uint32_t>(record.packed.size()));
    Put32(out, spec.zip64 ? Saturated : static_cast<uint32_t>(record.size));
    Put16(out, static_cast<uint16_t>(spec.name.size()));
    Put16(out, static_cast<uint16_t>(extra.size()));
    Put16(out, 0);  // comment
    Put16(out, 0);  // disk
    Put16(out, 0);  // internal attributes
    Put32(out, 0x20);
    Put32(out, spec.zip64 ? Saturated : static_cast<uint32_t>(record.localOffset));
    PutText(out, spec.name);
    PutBytes(out, extra);
}

// ------------------------------------------------------------ RAR

uint16_t HeaderCrc16(const Bytes& header) {
    return static_cast<uint16_t>(ArchiveCrc(Bytes(header.begin() + 2, header.end())) & 0xFFFFu);
}

// A RAR 4 block: the CRC of everything after it, computed once the rest is in.
void PutRar4Block(Bytes& out, Bytes block) {
    PutLe16(block, 0, HeaderCrc16(block));
    PutBytes(out, block);
}

void PutVint(Bytes& out, uint64_t value) {
    do {
        uint8_t byte = static_cast<uint8_t>(value & 0x7F);
        value >>= 7;
        if (value != 0) byte |= 0x80;
        out.push_back(byte);
    } while (value != 0);
}

// A RAR5 header: CRC-32 of the size field and the fields after it.
void PutRar5Header(Bytes& out, const Bytes& fields) {
    Bytes sized;
    PutVint(sized, fields.size());
    PutBytes(sized, fields);
    Put32(out, ArchiveCrc(sized));
    PutBytes(out, sized);
}

}  // namespace

uint32_t ArchiveCrc(const Bytes& data) { return ~Crc32Raw(data.data(), data.size()); }

Bytes DeflateRaw(const Bytes& data, bool emptyBlockLast) {
    z_stream z{};
    if (deflateInit2(&z, 9, Z_DEFLATED, -MAX_WBITS, 9, Z_DEFAULT_STRATEGY) != Z_OK) return {};
    Bytes out(deflateBound(&z, static_cast<uLong>(data.size())) + 64);
    z.next_in = const_cast<Bytef*>(data.data());
    z.avail_in = static_cast<uInt>(data.size());
    z.next_out = out.data();
    z.avail_out = static_cast<uInt>(out.size());
    if (emptyBlockLast && deflate(&z, Z_SYNC_FLUSH) != Z_OK) return {};
    const int status = deflate(&z, Z_FINISH);
    out.resize(status == Z_STREAM_END ? z.total_out : 0);
    deflateEnd(&z);
    return out;
}

Bytes MakeZip(const std::vector<ZipEntrySpec>& entries, const ZipOptions& options, ZipLayout* layout) {
    Bytes out = options.prefix;
    const uint64_t base = options.offsetsFromFile ? 0 : options.prefix.size();
    std::vector<ZipRecord> records;
    ZipLayout where;
    for (const ZipEntrySpec& spec : entries) {
        ZipRecord record = Prepare(spec);
        record.localOffset = out.size() - base;
        where.locals.push_back(out.size());
        PutLocal(out, spec, record);
        records.push_back(record);
    }
    where.directory = out.size();
    for (size_t i = 0; i < entries.size(); ++i) PutCentral(out, entries[i], records[i]);
    const uint64_t directorySize = out.size() - where.directory;
    const uint64_t directoryOffset = where.directory - base;
    if (options.zip64End) {
        const uint64_t recordAt = out.size();
        Put32(out, 0x06064B50u);
        Put64(out, 44);  // the record's size after this field
        Put16(out, 45);
        Put16(out, 45);
        Put32(out, 0);
        Put32(out, 0);
        Put64(out, entries.size());
        Put64(out, entries.size());
        Put64(out, directorySize);
        Put64(out, directoryOffset);
        Put32(out, 0x07064B50u);
        Put32(out, 0);
        Put64(out, recordAt - base);
        Put32(out, 1);
    }
    where.end = out.size();
    Put32(out, 0x06054B50u);
    Put16(out, 0);
    Put16(out, 0);
    Put16(out, options.zip64End ? 0xFFFF : static_cast<uint16_t>(entries.size()));
    Put16(out, options.zip64End ? 0xFFFF : static_cast<uint16_t>(entries.size()));
    Put32(out, options.zip64End ? Saturated : static_cast<uint32_t>(directorySize));
    Put32(out, options.zip64End ? Saturated : static_cast<uint32_t>(directoryOffset));
    Put16(out, static_cast<uint16_t>(options.comment.size()));
    PutBytes(out, options.comment);
    if (layout != nullptr) *layout = where;
    return out;
}

Bytes MakeRar4(const std::vector<RarEntrySpec>& entries, const RarOptions& options) {
    Bytes out = options.prefix;
    PutBytes(out, {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00});
    Bytes main;
    Put16(main, 0);
    Put8(main, 0x73);
    Put16(main, options.encryptedHeaders ? 0x0080 : 0x0000);
    Put16(main, 13);
    Put16(main, 0);
    Put32(main, 0);
    PutRar4Block(out, main);
    for (const RarEntrySpec& spec : entries) {
        std::string name = spec.name;
        uint16_t flags = 0x8000;
        if (!spec.unicodeName.empty()) {
            name += std::string(1, '\0') + spec.unicodeName;
            flags |= 0x0200;
        }
        if (spec.fromPrevious) flags |= 0x0001;
        if (spec.intoNext) flags |= 0x0002;
        if (spec.encrypted) flags |= 0x0004;
        if (spec.directory) flags |= 0x00E0;
        uint32_t crc = ArchiveCrc(spec.data);
        if (spec.badCrc) crc ^= 0x00000100u;
        Bytes block;
        Put16(block, 0);
        Put8(block, 0x74);
        Put16(block, flags);
        Put16(block, static_cast<uint16_t>(32 + name.size()));
        Put32(block, static_cast<uint32_t>(spec.data.size()));
        Put32(block, static_cast<uint32_t>(spec.compressed ? spec.data.size() * 3 : spec.data.size()));
        Put8(block, 2);  // Win32
        Put32(block, crc);
        Put32(block, 0x21 << 16);  // 1 January 1980
        Put8(block, 29);
        Put8(block, spec.compressed ? 0x33 : 0x30);
        Put16(block, static_cast<uint16_t>(name.size()));
        Put32(block, spec.directory ? 0x10 : 0x20);
        PutText(block, name);
        PutRar4Block(out, block);
        PutBytes(out, spec.data);
    }
    if (options.endBlock) {
        Bytes end;
        Put16(end, 0);
        Put8(end, 0x7B);
        Put16(end, 0x4000);
        Put16(end, 7);
        PutRar4Block(out, end);
    }
    return out;
}

Bytes MakeRar5(const std::vector<RarEntrySpec>& entries, const RarOptions& options) {
    Bytes out = options.prefix;
    PutBytes(out, {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00});
    if (options.encryptedHeaders) {
        Bytes encryption;
        PutVint(encryption, 4);  // archive encryption header
        PutVint(encryption, 0);
        PutVint(encryption, 0);  // version: AES-256
        PutVint(encryption, 0);  // no check value
        Put8(encryption, 15);    // KDF count
        encryption.insert(encryption.end(), 16, 0x5A);  // salt
        PutRar5Header(out, encryption);
    }
    Bytes main;
    PutVint(main, 1);
    PutVint(main, 0);
    PutVint(main, 0);
    PutRar5Header(out, main);
    for (const RarEntrySpec& spec : entries) {
        Bytes extra;
        if (spec.encrypted) {
            Bytes record;
            PutVint(record, 0x01);  // file encryption
            PutVint(record, 0);     // version
            PutVint(record, 0);     // flags
            Put8(record, 15);
            record.insert(record.end(), 32, 0xA5);  // salt and IV
            PutVint(extra, record.size());
            PutBytes(extra, record);
        }
        uint64_t headerFlags = 0x0002;
        if (!extra.empty()) headerFlags |= 0x0001;
        if (spec.fromPrevious) headerFlags |= 0x0008;
        if (spec.intoNext) headerFlags |= 0x0010;
        uint32_t crc = ArchiveCrc(spec.data);
        if (spec.badCrc) crc ^= 0x01000000u;
        Bytes file;
        PutVint(file, 2);
        PutVint(file, headerFlags);
        if (!extra.empty()) PutVint(file, extra.size());
        PutVint(file, spec.data.size());
        PutVint(file, 0x0002 | 0x0004 | (spec.directory ? 0x0001 : 0));  // mtime and CRC present
        PutVint(file, spec.compressed ? spec.data.size() * 3 : spec.data.size());
        PutVint(file, 0x20);
        Put32(file, 0x5F000000u);  // mtime
        Put32(file, crc);
        PutVint(file, spec.compressed ? (1u << 7) : 0u);  // method 1, the fastest
        PutVint(file, 0);  // Windows
        PutVint(file, spec.name.size());
        PutText(file, spec.name);
        PutBytes(file, extra);
        PutRar5Header(out, file);
        PutBytes(out, spec.data);
    }
    if (options.endBlock) {
        Bytes end;
        PutVint(end, 5);
        PutVint(end, 0);
        PutVint(end, 0);
        PutRar5Header(out, end);
    }
    return out;
}

}  // namespace synth
