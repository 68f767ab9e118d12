#include "engine/detectors.h"

#include "engine/elkern_layout.h"
#include "engine/exe_headers.h"
#include "engine/file_at.h"
#include "engine/signatures.h"

namespace {

// An entry point or target whose address has no bytes in the file (file
// offset 0) ends the detector with 0 at once: there is nothing to look at.
int DetectAB(FileHandle file, const ByteBlock& peHeaders, ThreatName* found) {
    uint32_t entry = 0, entryOffset = 0;
    if (!PeEntryPoint(peHeaders, &entry) || !MapToStoredBytes(peHeaders, entry, &entryOffset)) return 0;

    uint8_t buffer[ElkernBufferSize];
    ReadAt(file, static_cast<int64_t>(entryOffset) - 2, buffer, 7);
    if (!HasElkernABEntry(buffer)) return 0;
    const uint32_t target = ElkernABBodyStart(entry, buffer);
    uint32_t bodyOffset = 0;
    if (!MapToStoredBytes(peHeaders, target, &bodyOffset)) return 0;

    ReadAt(file, bodyOffset, buffer, ElkernBufferSize);
    if (!HasElkernABBodyMarks(buffer)) return 0;
    DecodeElkernAB(buffer, AbCheckedLength);
    *found = ElkernABVariant(buffer);
    return *found != nullptr ? VerdictInfected : VerdictClean;
}

int DetectC(FileHandle file, const ByteBlock& peHeaders, ThreatName* found) {
    uint32_t entry = 0, entryOffset = 0;
    if (!PeEntryPoint(peHeaders, &entry) || !MapToStoredBytes(peHeaders, entry, &entryOffset)) return 0;

    uint8_t buffer[ElkernBufferSize];
    ReadAt(file, entryOffset, buffer, 5);
    const uint32_t target = ElkernCBodyStart(entry, buffer);
    uint32_t bodyOffset = 0;
    if (!MapToStoredBytes(peHeaders, target, &bodyOffset)) return 0;

    // buffer[k] is the byte at bodyOffset - 2 + k: the marker comes first.
    ReadAt(file, static_cast<int64_t>(bodyOffset) - 2, buffer, ElkernBufferSize);
    if (!HasElkernCMarks(buffer)) return 0;

    *found = ElkernThreatNames[2];
    return DecryptElkernC(buffer) ? VerdictInfected : VerdictWarning;
}

// Runs one detector on PE images that are not DLLs and records its finding.
int RunDetector(FileCheckContext* context, int (*detector)(FileHandle, const ByteBlock&, ThreatName*)) {
    HeaderBuffers headers;
    if (!ReadExecutableHeaders(KindPeImage, context->file, &headers.dosHeader, &headers.peHeaders)) return 0;
    ThreatName found = nullptr;
    const int result = detector(context->file, headers.peHeaders, &found);
    if (result != VerdictClean) context->threatName = found;
    return result;
}

}  // namespace

int DetectElkernAB(FileCheckContext* context) { return RunDetector(context, DetectAB); }

int DetectElkernC(FileCheckContext* context) { return RunDetector(context, DetectC); }

int DetectThreat(FileCheckContext* context) {
    if (MatchSignatures(context)) return VerdictInfected;
    const int c = DetectElkernC(context);
    if (c != VerdictClean) return c;
    return DetectElkernAB(context);
}
