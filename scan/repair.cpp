#include "scan/repair.h"

#include "engine/elkern_layout.h"
#include "engine/file_at.h"
#include "engine/file_view.h"
#include "engine/signatures.h"

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

// The second step, behind a barrier. What makes the host run again is on
// the disk before the first byte of the body is zeroed, and the wipe is on
// it before the file is called repaired. Until the system writes its cache
// back it may put any of the written pages on the disk in any order, so
// without the first flush a power cut could leave the body zeroed under the
// old header: an entry point into zeros, in a file no scan finds infected.
RepairResult WipeBehindBarrier(uint32_t chainStart, FileCheckContext* context, const ByteBlock& peHeaders,
                               uint8_t* body) {
    if (!FileFlush(context->file)) return RepairWriteFailed;
    if (!WipeBlockChain(chainStart, context, peHeaders, body)) return RepairWriteFailed;
    return FileFlush(context->file) ? RepairDone : RepairWriteFailed;
}

// The whole file is the threat and is deleted by its path. Make sure it
// still carries the checksums that condemned it: a clean file put in its
// place since it was examined must not go.
RepairResult ConfirmWholeFileThreat(FileCheckContext* context) {
    FileView view;
    OpenFileView(&view, context->file);
    ThreatName found = nullptr;
    const bool same = MatchSignatures(&view, &found) && found == context->threatName;
    return same ? RepairDeleteFile : RepairBodyNotFound;
}

}  // namespace

RepairResult RepairFile(FileCheckContext* context) {
    if (context->threatName == nullptr) return RepairBodyNotFound;
    switch (context->threatName->remedy) {
        case Remedy::DeleteFile: return ConfirmWholeFileThreat(context);
        case Remedy::RepairElkernAB: return RepairElkernAB(context);
        case Remedy::RepairElkernC: return RepairElkernC(context);
    }
    return RepairBodyNotFound;
}

// Every check comes before the first write, and every write must transfer
// all its bytes: one that comes short ends the repair as a failure (which
// also keeps a file from being examined and "repaired" again without end).
// The writes come in two steps (see WipeBehindBarrier): first the header
// with the host's entry point (and, for Elkern.C, the host bytes at that
// entry point), so that the host runs again, and only then the wipe of the
// virus body, which merely removes dead code. At every instant the file on
// the disk is still infected (and repaired again, to the same cure, by the
// next scan) or runs as the cure.
RepairResult RepairElkernC(FileCheckContext* context) {
    HeaderBuffers headers;
    RepairInput input;
    if (!PrepareRepair(context, &headers, &input)) return RepairBodyNotFound;

    uint8_t entryBytes[CEntryLength];
    if (ReadAt(input.file, input.entrySpan.offset, entryBytes, CEntryLength) != CEntryLength) return RepairBodyNotFound;
    const uint32_t bodyStart = ElkernCBodyStart(input.entry, entryBytes);
    StoredSpan bodySpan;
    if (!MapToSpan(headers.peHeaders, bodyStart, input.fileSize, &bodySpan) || bodySpan.offset < BlockMarkerLength) {
        return RepairBodyNotFound;
    }

    // What detection found, found again: the marker before the body, both
    // checksummed windows and the encrypted stretch. window[k] is the byte
    // two before the body plus k, so the body itself starts at window + 2.
    uint8_t window[ElkernBufferSize + BlockMarkerLength];
    if (ReadAt(input.file, bodySpan.offset - BlockMarkerLength, window, sizeof window) <
        CEncryptedOffset + CEncryptedLength) {
        return RepairBodyNotFound;
    }
    if (!HasElkernCMarks(window) || !DecryptElkernC(window)) return RepairBodyNotFound;
    uint8_t* body = window + BlockMarkerLength;
    const uint8_t saved[CEntryLength] = {body[CSavedBytes], body[CSavedBytes + 1], body[CSavedBytes + 2],
                                         body[CSavedBytes + 3], body[CSavedFifthByte]};
    const uint32_t restoredEntry = LoadLe32(body + CSavedEntry);
    // The host bytes need a place inside the stored data of the restored
    // entry point's section.
    StoredSpan restoredSpan;
    if (!MapToSpan(headers.peHeaders, restoredEntry, input.fileSize, &restoredSpan) ||
        !SpanHolds(restoredSpan, restoredSpan.offset, CEntryLength)) {
        return RepairBodyNotFound;
    }

    // Header and host bytes first, the wipe last (see above).
    if (!WriteHeader(input, &headers.peHeaders, restoredEntry)) return RepairWriteFailed;
    if (WriteAt(input.file, restoredSpan.offset, saved, CEntryLength) != CEntryLength) return RepairWriteFailed;
    return WipeBehindBarrier(bodyStart, context, headers.peHeaders, body);
}

RepairResult RepairElkernAB(FileCheckContext* context) {
    HeaderBuffers headers;
    RepairInput input;
    if (!PrepareRepair(context, &headers, &input)) return RepairBodyNotFound;

    uint8_t entryBytes[AbEntryLength];
    if (ReadAt(input.file, static_cast<int64_t>(input.entrySpan.offset) - BlockMarkerLength, entryBytes,
               AbEntryLength) != AbEntryLength) {
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
    // Another variant, or neither checksum: the file changed since it was
    // examined; leave it alone.
    const ThreatName variant = ElkernABVariant(body);
    if (variant == nullptr || variant != context->threatName) return RepairBodyNotFound;
    // The saved entry point goes back as it is, even where it has no stored
    // bytes in the file: the host had it so, and the loader maps it.
    const uint32_t restoredEntry = LoadLe32(body + (variant == ElkernThreatA ? AbSavedEntryA : AbSavedEntryB));

    // Header first, the wipe last (see above). The first block begins at the
    // infected entry point.
    if (!WriteHeader(input, &headers.peHeaders, restoredEntry)) return RepairWriteFailed;
    return WipeBehindBarrier(input.entry, context, headers.peHeaders, body);
}

bool WipeBlockChain(uint32_t startRva, FileCheckContext* context, const ByteBlock& peHeaders, uint8_t* bodyBuffer) {
    FillBytes(bodyBuffer, 0, ElkernBufferSize);
    uint32_t fileSize = 0;
    if (!FileGetSize(context->file, &fileSize)) return false;

    // The chain ends at a next address of 0 or at one with no place in the
    // file. A chain that comes back to a block ends there too: that block's
    // header was zeroed, so it now names no next block.
    uint32_t address = startRva;
    for (uint32_t blocks = 0; blocks < MaxChainBlocks; ++blocks) {
        StoredSpan span;
        if (!MapToSpan(peHeaders, address, fileSize, &span)) return true;
        // The header precedes the block's data inside the same section.
        if (span.offset < BlockHeaderSize || !SpanHolds(span, span.offset - BlockHeaderSize, BlockHeaderSize)) {
            return true;
        }

        // These bytes are in the file: a transfer that comes short is a
        // failure of the medium, and the wipe has not done its work.
        const uint32_t headerOffset = span.offset - BlockHeaderSize;
        uint8_t header[BlockHeaderSize];
        if (ReadAt(context->file, headerOffset, header, BlockHeaderSize) != BlockHeaderSize) return false;
        if (WriteAt(context->file, headerOffset, bodyBuffer, BlockHeaderSize) != BlockHeaderSize) return false;

        // The marker is not looked at. Data past the section's stored bytes
        // or the end of the file is not ours to touch.
        const uint64_t wanted =
            static_cast<uint64_t>(header[BlockLengthOffset] | (header[BlockLengthOffset + 1] << 8));
        const uint64_t room = span.end - span.offset;
        uint64_t remaining = wanted < room ? wanted : room;
        uint64_t position = span.offset;
        while (remaining != 0) {
            const uint32_t chunk = remaining < ElkernBufferSize ? static_cast<uint32_t>(remaining) : ElkernBufferSize;
            if (WriteAt(context->file, static_cast<int64_t>(position), bodyBuffer, chunk) != chunk) return false;
            position += chunk;
            remaining -= chunk;
        }

        address = LoadLe32(header + BlockNextOffset);
        if (address == 0) return true;
    }
    return true;
}
