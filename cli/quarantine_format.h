// How a quarantine folder is laid out, shared by the save and the restore.
#pragma once

#include <cstdint>
#include <cstdio>
#include <ctime>
#include <string>
#include <vector>

#include "scan/fs.h"

// The saved bytes are XORed with this key behind a header of their own, so
// that no program and no scanner sees the original in them.
constexpr uint8_t InertKey[16] = {0x5a, 0xc3, 0x96, 0x3c, 0xa5, 0x69, 0xf0, 0x0f,
                                  0x99, 0x66, 0x33, 0xcc, 0x1e, 0xe1, 0x78, 0x87};
constexpr char EntryMagic[16] = {'V', 'E', 'L', 'M', 'O', 'R', 'A', '-', 'Q', 'U', 'A', 'R', '-', '1', '\r', '\n'};
// The magic, the file's size in 8 bytes (little-endian; files never exceed
// 2 GiB - 1, so the upper four stay zero), 8 bytes reserved.
constexpr uint32_t EntryHeaderSize = 32;
constexpr uint32_t EntrySizeOffset = 16;
constexpr uint32_t CopyChunkSize = 65536;

// The one buffer through which the save and the restore copy and hash.
extern uint8_t copyChunk[CopyChunkSize];

void WriteEntryHeader(uint8_t header[EntryHeaderSize], uint32_t size);
// False when the header is not one of ours, or names a size it cannot hold.
bool ReadEntryHeader(const uint8_t header[EntryHeaderSize], uint32_t* size);

// The SHA-256 of the whole open file, read from its start.
void HashFromStart(FileHandle file, char hex[65]);

// The manifest's whole lines (one cut short was never committed), each split
// at its tabs.
std::vector<std::vector<std::string>> ReadManifestLines(FileHandle manifest);
// One line at the manifest's end, on the disk before anything goes on.
bool AppendManifestLine(FileHandle manifest, const std::string& line);

// Both ways: the key is applied by the position of each byte in the file.
inline void ToggleInert(uint8_t* bytes, uint32_t count, uint64_t offset) {
    for (uint32_t i = 0; i < count; ++i) bytes[i] ^= InertKey[(offset + i) % sizeof InertKey];
}

inline std::string EntryId(uint32_t number) {
    char id[16];
    std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(number));
    return id;
}

inline std::string InFolder(const std::string& folder, const std::string& name) {
    std::string path = folder;
    if (!path.empty() && path.back() != PathSeparator) path.push_back(PathSeparator);
    return path + name;
}

inline std::string CurrentTimeText() {
    const std::time_t now = std::time(nullptr);
    char text[32] = "?";
    if (const std::tm* utc = std::gmtime(&now)) std::strftime(text, sizeof text, "%Y-%m-%dT%H:%M:%SZ", utc);
    return text;
}
