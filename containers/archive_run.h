// One reading of an archive and of the archives inside it: what the ZIP and
// RAR readers share. They find entries; here entries are decoded into the
// buffer of their nesting level, handed over, and read in turn when they
// are archives themselves. The reading's budget of decoded bytes and its
// outcome are kept here too.
#pragma once

#include <cstdint>

#include "containers/archive.h"
#include "containers/entry_name.h"
#include "containers/inflate_entry.h"
#include "containers/item_buffer.h"
#include "containers/source_window.h"

// Windows each nesting level may use at once (ZIP: the central directory
// and the entries' data).
constexpr uint32_t WindowsPerLevel = 2;

struct ArchiveLevel {
    ItemBuffer item;
    uint8_t* windows[WindowsPerLevel] = {};
    EntryText prefix;     // the names of the entries that lead here, each followed by " > "
    uint64_t anchor = 0;  // where the outermost of those entries starts in the file
};

struct ArchiveRun {
    ItemSink sink = nullptr;
    void* context = nullptr;
    ContainerOutcome outcome;
    bool whyIsDamage = false;
    uint64_t budget = 0;  // bytes that may still be decoded
    InflateStream* inflate = nullptr;
    ArchiveLevel levels[MostArchiveDepth];
};

// What an entry's header says about its data.
struct EntryData {
    uint64_t header = 0;    // where the entry's header starts
    uint64_t offset = 0;    // its first byte of data
    uint64_t packed = 0;    // bytes of data in the archive (deflated: the most the stream may take)
    uint64_t size = 0;      // bytes it claims once decoded
    uint32_t crc = 0;
    bool crcKnown = false;
    bool deflated = false;  // otherwise stored as it is
    bool toStreamEnd = false;  // deflated, size unknown: inflate to the stream's end
};

// An entry decoded into its level's buffer, before it is handed over.
struct DecodedEntry {
    uint32_t size = 0;         // bytes in the level's buffer
    bool cut = false;          // the entry has more bytes than those
    bool whole = false;        // every byte of the entry was decoded: crc is its CRC-32
    uint32_t crc = 0;
    bool crcMismatch = false;  // the CRC the header gave differs, or the data is damaged
    bool ended = false;        // deflated: the stream's end was reached
    uint64_t consumed = 0;     // deflated: compressed bytes the stream took
};

// A window of the level's own; false when memory is short.
bool OpenWindow(ArchiveRun* run, uint32_t depth, uint32_t index, const ByteSource* source, SourceWindow* window);

// The first step of a reader whose archive begins with a mark (RAR 4,
// RAR5): the level's first window, and the mark at start. False, with the
// reason noted, when either is missing.
bool OpenMarkedArchive(ArchiveRun* run, uint32_t depth, const ByteSource* source, uint64_t start, const uint8_t* mark,
                       uint32_t markSize, SourceWindow* window);

// The level's prefix, to which the reader appends the entry's own name.
EntryText EntryName(const ArchiveRun& run, uint32_t depth);

// Damage ends or skips part of the reading; the first damage is the one
// where and why name.
void NoteDamage(ArchiveRun* run, uint32_t depth, uint64_t where, const char* why);
// count entries that are not examined; why (may be null) is kept when
// nothing was noted before.
void NoteUnread(ArchiveRun* run, uint32_t depth, uint64_t where, const char* why, uint32_t count = 1);

// Decodes the entry from the window's source into the level's buffer. False
// when there is nothing to hand over (the reason is noted).
bool DecodeEntry(ArchiveRun* run, uint32_t depth, SourceWindow* data, const EntryData& entry, DecodedEntry* out);

// Hands the decoded entry over as an item and, when it is an archive, reads
// that in turn. False when the sink said stop.
bool HandOverEntry(ArchiveRun* run, uint32_t depth, const EntryText& name, const DecodedEntry& entry,
                   uint64_t header);

// Both of the above; false only when the sink said stop.
bool ReadEntry(ArchiveRun* run, uint32_t depth, SourceWindow* data, const EntryText& name, const EntryData& entry);

// The readers, each over source from start at depth (archive_run.cpp reads
// a nested archive through ReadLevel).
void ReadLevel(ArchiveRun* run, ContainerKind kind, const ByteSource& source, uint64_t start, uint32_t depth);
void ReadZip(ArchiveRun* run, const ByteSource& source, uint64_t start, uint32_t depth);
void ReadRar4(ArchiveRun* run, const ByteSource& source, uint64_t start, uint32_t depth);
void ReadRar5(ArchiveRun* run, const ByteSource& source, uint64_t start, uint32_t depth);
