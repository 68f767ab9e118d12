#include "cli/quarantine_format.h"

#include <cstring>

#include "engine/bytes.h"
#include "engine/sha256.h"

uint8_t copyChunk[CopyChunkSize];

void WriteEntryHeader(uint8_t header[EntryHeaderSize], uint32_t size) {
    std::memset(header, 0, EntryHeaderSize);
    std::memcpy(header, EntryMagic, sizeof EntryMagic);
    WriteLe32(header, EntryHeaderSize, EntrySizeOffset, size);
}

bool ReadEntryHeader(const uint8_t header[EntryHeaderSize], uint32_t* size) {
    const ByteView view{header, EntryHeaderSize};
    uint32_t high = 0;
    return std::memcmp(header, EntryMagic, sizeof EntryMagic) == 0 && ReadLe32(view, EntrySizeOffset, size) &&
           ReadLe32(view, EntrySizeOffset + 4, &high) && high == 0;
}

void HashFromStart(FileHandle file, char hex[65]) {
    Sha256 hash;
    Sha256Start(&hash);
    FileSeek(file, 0, SeekOrigin::Begin);
    for (uint32_t n; (n = FileRead(file, copyChunk, CopyChunkSize)) > 0;) Sha256Add(&hash, copyChunk, n);
    Sha256Hex(&hash, hex);
}

std::vector<std::vector<std::string>> ReadManifestLines(FileHandle manifest) {
    std::string text;
    FileSeek(manifest, 0, SeekOrigin::Begin);
    for (uint32_t n; (n = FileRead(manifest, copyChunk, CopyChunkSize)) > 0;) {
        text.append(reinterpret_cast<const char*>(copyChunk), n);
    }
    std::vector<std::vector<std::string>> lines;
    for (size_t at = 0, end; (end = text.find('\n', at)) != std::string::npos; at = end + 1) {
        std::vector<std::string>& fields = lines.emplace_back();
        for (size_t field = at;;) {
            const size_t tab = text.find('\t', field);
            if (tab == std::string::npos || tab > end) {
                fields.push_back(text.substr(field, end - field));
                break;
            }
            fields.push_back(text.substr(field, tab - field));
            field = tab + 1;
        }
    }
    return lines;
}

bool AppendManifestLine(FileHandle manifest, const std::string& line) {
    FileSeek(manifest, 0, SeekOrigin::End);
    return FileWrite(manifest, line.data(), static_cast<uint32_t>(line.size())) == line.size() && FileFlush(manifest);
}
