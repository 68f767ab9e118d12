#include "containers/archive_run.h"

#include <cstdlib>
#include <cstring>

#include "containers/archive_limits.h"
#include "containers/archive_texts.h"

namespace {

// RecognizeArchive needs no more than this of a nested entry.
constexpr uint32_t RecognizeBytes = 4096;

uint32_t Smaller(uint64_t a, uint32_t b) { return a < b ? static_cast<uint32_t>(a) : b; }

uint64_t WhereInFile(const ArchiveRun& run, uint32_t depth, uint64_t where) {
    // Offsets inside a nested archive mean nothing in the file; the outermost
    // entry that holds it does.
    return depth == 0 ? where : run.levels[depth].anchor;
}

bool DecodeStored(ArchiveRun* run, uint32_t depth, SourceWindow* data, const EntryData& entry, uint32_t keep,
                  DecodedEntry* out) {
    ItemBuffer& buffer = run->levels[depth].item;
    if (!ReserveItem(&buffer, keep)) {
        NoteUnread(run, depth, entry.header, archive_why::NoMemory);
        return false;
    }
    out->size = WindowCopy(data, entry.offset, buffer.data, keep);
    run->budget -= out->size;
    out->cut = entry.packed > out->size;
    if (out->size < keep) {
        // The header's span was checked against the source: it failed to read.
        NoteDamage(run, depth, entry.offset, archive_why::ReadFailed);
        out->crcMismatch = true;
    }
    out->whole = !out->cut;
    if (out->whole) out->crc = EntryCrc32(buffer.data, out->size);
    return true;
}

bool DecodeDeflated(ArchiveRun* run, uint32_t depth, SourceWindow* data, const EntryData& entry, uint32_t wanted,
                    DecodedEntry* out) {
    if (run->inflate == nullptr) run->inflate = OpenInflate();
    if (run->inflate == nullptr) {
        NoteUnread(run, depth, entry.header, archive_why::NoMemory);
        return false;
    }
    InflateRequest request;
    request.offset = entry.offset;
    request.available = entry.packed;
    request.keep = Smaller(run->budget, ItemBound);
    request.expected = wanted;
    // One byte past the kept ones tells whether the entry has more; an entry
    // of unknown size is inflated to its end to find what follows it.
    request.mostOutput = entry.toStreamEnd ? run->budget : request.keep + uint64_t{1};
    request.ratio = MostInflateRatio;
    const InflateResult result = InflateEntry(run->inflate, data, request, &run->levels[depth].item);
    run->budget -= result.produced < run->budget ? result.produced : run->budget;
    out->ended = result.ended;
    out->consumed = result.consumed;
    if (result.noMemory) {
        NoteUnread(run, depth, entry.header, archive_why::NoMemory);
        return false;
    }
    out->size = result.kept;
    out->cut = result.produced > result.kept || (!result.ended && !result.broken);
    out->whole = result.ended && !out->cut;
    if (out->whole) out->crc = EntryCrc32(run->levels[depth].item.data, out->size);
    if (result.broken) {
        NoteDamage(run, depth, entry.offset, archive_why::DeflateBroken);
        out->crcMismatch = true;
    } else if (result.tooDense) {
        NoteDamage(run, depth, entry.offset, archive_why::TooDense);
    } else if (out->cut && (request.keep < ItemBound || entry.toStreamEnd) && run->budget == 0) {
        NoteUnread(run, depth, entry.header, archive_why::Budget, 0);
    }
    if (out->size == 0 && !result.ended) {
        NoteUnread(run, depth, entry.header, nullptr);
        return false;
    }
    return true;
}

}  // namespace

bool OpenWindow(ArchiveRun* run, uint32_t depth, uint32_t index, const ByteSource* source, SourceWindow* window) {
    uint8_t*& buffer = run->levels[depth].windows[index];
    if (buffer == nullptr) buffer = static_cast<uint8_t*>(std::malloc(ArchiveWindowBytes));
    if (buffer == nullptr) return false;
    window->source = source;
    window->buffer = buffer;
    window->offset = 0;
    window->length = 0;
    return true;
}

bool OpenMarkedArchive(ArchiveRun* run, uint32_t depth, const ByteSource* source, uint64_t start, const uint8_t* mark,
                       uint32_t markSize, SourceWindow* window) {
    if (!OpenWindow(run, depth, 0, source, window)) {
        NoteUnread(run, depth, start, archive_why::NoMemory);
        return false;
    }
    const ByteView found = WindowView(window, start, markSize);
    if (found.size < markSize || std::memcmp(found.data, mark, markSize) != 0) {
        NoteDamage(run, depth, start, archive_why::NoSignature);
        return false;
    }
    return true;
}

EntryText EntryName(const ArchiveRun& run, uint32_t depth) { return run.levels[depth].prefix; }

void NoteDamage(ArchiveRun* run, uint32_t depth, uint64_t where, const char* why) {
    ContainerOutcome& outcome = run->outcome;
    if (!run->whyIsDamage) {
        outcome.where = WhereInFile(*run, depth, where);
        outcome.why = why;
    }
    outcome.damaged = true;
    run->whyIsDamage = true;
}

void NoteUnread(ArchiveRun* run, uint32_t depth, uint64_t where, const char* why, uint32_t count) {
    ContainerOutcome& outcome = run->outcome;
    outcome.notExamined = count <= UINT32_MAX - outcome.notExamined ? outcome.notExamined + count : UINT32_MAX;
    if (why != nullptr && outcome.why[0] == '\0') {
        outcome.where = WhereInFile(*run, depth, where);
        outcome.why = why;
    }
}

bool DecodeEntry(ArchiveRun* run, uint32_t depth, SourceWindow* data, const EntryData& entry, DecodedEntry* out) {
    *out = DecodedEntry{};
    // What the entry claims decides whether the budget can take it; an entry
    // that claims less than it holds is cut where the budget ends.
    const uint32_t wanted = Smaller(entry.deflated ? entry.size : entry.packed, ItemBound);
    if (run->budget < wanted || (run->budget == 0 && entry.deflated)) {
        NoteUnread(run, depth, entry.header, archive_why::Budget);
        return false;
    }
    const bool decoded = entry.deflated ? DecodeDeflated(run, depth, data, entry, wanted, out)
                                        : DecodeStored(run, depth, data, entry, wanted, out);
    if (decoded && out->whole && entry.crcKnown && out->crc != entry.crc) out->crcMismatch = true;
    return decoded;
}

bool HandOverEntry(ArchiveRun* run, uint32_t depth, const EntryText& name, const DecodedEntry& entry,
                   uint64_t header) {
    static const uint8_t nothing = 0;
    const uint8_t* bytes = run->levels[depth].item.data != nullptr ? run->levels[depth].item.data : &nothing;
    ContainedItem item;
    item.data = bytes;
    item.size = entry.size;
    item.cut = entry.cut;
    item.name = name.text;
    item.crcMismatch = entry.crcMismatch;
    item.depth = depth;
    ++run->outcome.items;
    if (!run->sink(run->context, item)) {
        run->outcome.stopped = true;
        return false;
    }

    const ContainerKind inner = RecognizeArchive(bytes, entry.size < RecognizeBytes ? entry.size : RecognizeBytes);
    if (inner == ContainerKind::None) return true;
    if (depth + 1 >= MostArchiveDepth) {
        NoteUnread(run, depth, header, archive_why::TooDeep);
        return true;
    }
    ArchiveLevel& next = run->levels[depth + 1];
    next.prefix = name;
    AppendText(&next.prefix, " > ");
    next.anchor = WhereInFile(*run, depth, header);
    const MemoryBytes held{bytes, entry.size};
    const ByteSource source = MemorySource(&held);
    ReadLevel(run, inner, source, 0, depth + 1);
    return !run->outcome.stopped;
}

bool ReadEntry(ArchiveRun* run, uint32_t depth, SourceWindow* data, const EntryText& name, const EntryData& entry) {
    DecodedEntry decoded;
    if (!DecodeEntry(run, depth, data, entry, &decoded)) return true;
    return HandOverEntry(run, depth, name, decoded, entry.header);
}
