// How a quarantine folder is laid out, shared by the save and the restore:
// the entries' header and the manifest's lines, written here and read back
// by one checked reader. Whoever could write the folder could have written
// anything in them, so every field read back is checked before it is used.
#pragma once

#include <cstddef>
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

// The manifest's first line, "velmora-quarantine<TAB>2": the version of its
// lines. A manifest without it is of version 1, whose "saved" lines carry no
// owner; one of a later version than this program knows is not read at all.
constexpr char ManifestMagic[] = "velmora-quarantine";
constexpr uint32_t ManifestVersion = 2;
std::string ManifestHeaderLine();

// Entry numbers stay below this, so that the next one can never wrap to 0,
// which stands for none.
constexpr uint32_t HighestEntryNumber = 0x7FFFFFFF;

// The owner, group and permission bits (st_mode & 07777) of a saved file,
// where the platform has them.
struct SavedOwner {
    bool known = false;
    uint32_t user = 0;
    uint32_t group = 0;
    uint32_t mode = 0;
};

// One saved file, as its lines tell it.
struct SavedEntry {
    uint32_t number = 0;
    std::string id;    // the number as EntryId writes it
    std::string path;  // absolute, without "." or ".." components
    uint32_t size = 0;
    std::string sha;   // lower-case hexadecimal
    SavedOwner owner;
    std::string left;  // what its "done" line says was left; empty when none
    bool restored = false;
};

struct ManifestContents {
    uint32_t version = 1;
    std::vector<SavedEntry> saved;  // in the order of their lines
    uint32_t highestNumber = 0;     // of the entries read, 0 when none
    // Lines that are none the program writes, or that contradict an earlier
    // one: the first few line numbers (counted from 1), and how many in all.
    static constexpr size_t ShownRefusals = 100;
    std::vector<uint64_t> refusedLines;
    uint64_t refusedCount = 0;
};

// Reads the manifest's text. Only whole lines count: one cut short was never
// committed. A line is taken only when every field is what the program
// writes (an id of exactly eight hexadecimal digits, a size within the
// largest file, a digest of 64 digits, a path that is absolute and has no
// empty, "." or ".." component, a "done" or "restored" line of an entry
// saved before it); any other line is refused, and the rest still read.
// False when the manifest is of a later version.
bool ParseManifest(const char* text, size_t length, ManifestContents* contents);

// Whether path has the form of a recorded path on this platform: absolute
// (POSIX: from "/"; Windows: from a drive's root or a server's share) and
// made of non-empty names none of which is "." or ".." (on Windows also none
// made only of dots and spaces, which the system would read as another, nor
// one holding a colon, which names a stream).
bool IsRecordedPathForm(const std::string& path);
// Windows paths, as recorded and as reached: a separator is either slash;
// the root ("X:\", "\\server\share\" or their verbatim forms) takes the
// length returned, 0 when there is none; namesFrom gets where the names to
// check begin (a share's server, or the first name below a drive).
bool IsWindowsSeparator(char c);
size_t WindowsRootLength(const std::string& path, size_t* namesFrom = nullptr);

// The manifest's lines, as the save and the restore write them.
std::string SavedLine(uint32_t number, uint32_t size, const char sha[65], const SavedOwner& owner,
                      const std::string& path);
std::string RestoredLine(const std::string& id);

// Both ways: the key is applied by the position of each byte in the file.
inline void ToggleInert(uint8_t* bytes, uint32_t count, uint64_t offset) {
    for (uint32_t i = 0; i < count; ++i) bytes[i] ^= InertKey[(offset + i) % sizeof InertKey];
}

inline std::string EntryId(uint32_t number) {
    char id[16];
    std::snprintf(id, sizeof id, "%08X", static_cast<unsigned>(number));
    return id;
}

inline std::string EntryName(uint32_t number, const char* extension) { return EntryId(number) + "." + extension; }

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
