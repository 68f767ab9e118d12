#include "scan/repair.h"

#include "engine/elkern_layout.h"
#include "engine/file_at.h"

namespace {

// A hostile chain could be endless or enormous; real ones have a handful
// of blocks.
constexpr uint32_t MaxChainBlocks = 4096;

// The file bytes that a mapped address may touch: its section's stored
// data, cut at the end of the file. Computed in 64 bits, so nothing wraps.
struct StoredSpan {
    uint64_t start;
    uint64_t end;
    uint32_t offset;  // file offset of the address itself
};

bool MapToSpan(const ByteBlock& peHeaders, uint32_t address, uint32_t fileSize, StoredSpan* span) {
    uint32_t section = 0, inSection = 0, offset = 0, rawPointer = 0, rawSize = 0;
    if (MapAddressToFile(peHeaders, address, &section, &inSection, &offset) != 0 || offset == 0) return false;
    if (!SectionRawRange(peHeaders, section, &rawPointer, &rawSize)) return false;
    const uint64_t end = static_cast<uint64_t>(rawPointer) + rawSize;
    span->start = rawPointer;
    span->end = end < fileSize ? end : fileSize;
    // The mapped offset itself wraps in 32 bits; recompute it without wrap.
    const uint64_t exact = static_cast<uint64_t>(rawPointer) + inSection;
    if (exact != offset || exact >= span->end) return false;
    span->offset = offset;
    return true;
}

bool SpanHolds(const StoredSpan& span, uint64_t position, uint64_t length) {
    return position >= span.start && position <= span.end && length <= span.end - position;
}

struct RepairInput {
    FileHandle file;
    uint32_t fileSize = 0;
    int32_t lfanew = 0;
    uint32_t entry = 0;
    StoredSpan entrySpan{};
};

// The checks every repair makes before it may write: a PE image whose entry
// point has stored bytes and whose header can be written back in place.
bool PrepareRepair(FileCheckContext* context, HeaderBuffers* headers, RepairInput* input) {
    input->file = context->file;
    if (!ReadExecutableHeaders(KindPeImage, context->file, &headers->dosHeader, &headers->peHeaders)) return false;
    if (!FileGetSize(context->file, &input->fileSize)) return false;
    if (!DosLfanew(headers->dosHeader, &input->lfanew) || input->lfanew < 0) return false;
    if (PeFixedHeaderSize > input->fileSize ||
        static_cast<uint32_t>(input->lfanew) > input->fileSize - PeFixedHeaderSize) return false;
    if (!PeEntryPoint(headers->peHeaders, &input->entry)) return false;
    return MapToSpan(headers->peHeaders, input->entry, input->fileSize, &input->entrySpan);
}

bool WriteHeader(const RepairInput& input, ByteBlock* peHeaders, uint32_t restoredEntry) {
    WriteLe32(peHeaders->data, peHeaders->size, PeEntryPointOffset, restoredEntry);
    return WriteAt(input.file, input.lfanew, peHeaders->data, PeFixedHeaderSize) == PeFixedHeaderSize;
}

}  // namespace

int RepairFile(FileCheckContext* context) {
    if (context->threatName == ElkernThreatNames[2]) return RepairElkernC(context);
    if (context->threatName == ElkernThreatNames[0] || context->threatName == ElkernThreatNames[1]) {
        return RepairElkernAB(context);
    }
    return RepairDeleteFile;
}

// Every check comes before the first write; a write that comes short ends
// the repair as a failure, since the file would otherwise be examined and
// "repaired" again without end.
int RepairElkernC(FileCheckContext* context) {
    HeaderBuffers headers;
    RepairInput input;
    if (!PrepareRepair(context, &headers, &input)) return RepairBodyNotFound;

    uint8_t entryBytes[5];
    if (ReadAt(input.file, input.entrySpan.offset, entryBytes, 5) != 5) return RepairBodyNotFound;
    const uint32_t bodyStart = ElkernCBodyStart(input.entry, entryBytes);
    StoredSpan bodySpan;
    if (!MapToSpan(headers.peHeaders, bodyStart, input.fileSize, &bodySpan)) return RepairBodyNotFound;

    uint8_t body[ElkernBufferSize];
    if (ReadAt(input.file, bodySpan.offset, body, ElkernBufferSize) <= CSavedFifthByte) return RepairBodyNotFound;
    const uint8_t saved[5] = {body[CSavedBytes], body[CSavedBytes + 1], body[CSavedBytes + 2], body[CSavedBytes + 3],
                              body[CSavedFifthByte]};
    const uint32_t restoredEntry = LoadLe32(body + CSavedEntry);
    // The five host bytes need a place inside the stored data of the
    // restored entry point's section.
    StoredSpan restoredSpan;
    if (!MapToSpan(headers.peHeaders, restoredEntry, input.fileSize, &restoredSpan) ||
        !SpanHolds(restoredSpan, restoredSpan.offset, 5)) {
        return RepairBodyNotFound;
    }

    if (!WriteHeader(input, &headers.peHeaders, restoredEntry)) return RepairBodyNotFound;
    if (WriteAt(input.file, restoredSpan.offset, saved, 5) != 5) return RepairBodyNotFound;
    WipeBlockChain(bodyStart, context, headers.peHeaders, body);
    return RepairDone;
}

int RepairElkernAB(FileCheckContext* context) {
    HeaderBuffers headers;
    RepairInput input;
    if (!PrepareRepair(context, &headers, &input)) return RepairBodyNotFound;

    uint8_t entryBytes[7];
    if (ReadAt(input.file, static_cast<int64_t>(input.entrySpan.offset) - 2, entryBytes, 7) != 7) {
        return RepairBodyNotFound;
    }
    if (!HasElkernABEntry(entryBytes)) return RepairBodyNotFound;
    const uint32_t bodyStart = ElkernABBodyStart(input.entry, entryBytes);
    StoredSpan bodySpan;
    if (!MapToSpan(headers.peHeaders, bodyStart, input.fileSize, &bodySpan)) return RepairBodyNotFound;

    uint8_t body[ElkernBufferSize];
    if (ReadAt(input.file, bodySpan.offset, body, ElkernBufferSize) < AbEncodedOffset + AbEncodedLength) {
        return RepairBodyNotFound;
    }
    if (!HasElkernABBodyMarks(body)) return RepairBodyNotFound;
    DecodeElkernAB(body, AbEncodedLength);
    const ThreatName variant = ElkernABVariant(body);
    // Neither checksum: the file changed since detection; leave it alone.
    if (variant == nullptr) return RepairBodyNotFound;
    const uint32_t restoredEntry = LoadLe32(body + (variant == ElkernThreatNames[0] ? AbSavedEntryA : AbSavedEntryB));
    StoredSpan restoredSpan;
    if (!MapToSpan(headers.peHeaders, restoredEntry, input.fileSize, &restoredSpan)) return RepairBodyNotFound;

    if (!WriteHeader(input, &headers.peHeaders, restoredEntry)) return RepairBodyNotFound;
    // The first block begins at the infected entry point.
    WipeBlockChain(input.entry, context, headers.peHeaders, body);
    return RepairDone;
}

void WipeBlockChain(uint32_t startRva, FileCheckContext* context, const ByteBlock& peHeaders, uint8_t* bodyBuffer) {
    FillBytes(bodyBuffer, 0, ElkernBufferSize);
    uint32_t fileSize = 0;
    if (!FileGetSize(context->file, &fileSize)) return;

    // A chain that comes back to a block ends there: that block's header was
    // zeroed (a short write ends the wipe), so it now names no next block.
    uint32_t address = startRva;
    for (uint32_t blocks = 0; blocks < MaxChainBlocks; ++blocks) {
        StoredSpan span;
        if (!MapToSpan(peHeaders, address, fileSize, &span)) return;
        // The header precedes the block's data inside the same section.
        if (span.offset < 8 || !SpanHolds(span, span.offset - 8u, 8)) return;

        uint8_t header[8];
        if (ReadAt(context->file, span.offset - 8, header, 8) != 8) return;
        if (WriteAt(context->file, span.offset - 8, bodyBuffer, 8) != 8) return;

        // The marker half of the second word is not looked at. Data past the
        // section's stored bytes or the end of the file is not ours to touch.
        const uint64_t wanted = static_cast<uint64_t>(header[4] | (header[5] << 8));
        const uint64_t room = span.end - span.offset;
        uint64_t remaining = wanted < room ? wanted : room;
        uint64_t position = span.offset;
        while (remaining != 0) {
            const uint32_t chunk = remaining < ElkernBufferSize ? static_cast<uint32_t>(remaining) : ElkernBufferSize;
            if (WriteAt(context->file, static_cast<int64_t>(position), bodyBuffer, chunk) != chunk) return;
            position += chunk;
            remaining -= chunk;
        }

        address = LoadLe32(header);
        if (address == 0) return;
    }
}
