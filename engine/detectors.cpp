#include "engine/detectors.h"

#include "engine/elkern_layout.h"
#include "engine/exe_headers.h"
#include "engine/signatures.h"

namespace {

// An entry point or target whose address has no bytes in the file (file
// offset 0) ends the detector with Clean at once: there is nothing to look
// at.
Verdict DetectAB(FileView* view, const ByteBlock& peHeaders, ThreatName* found) {
    uint32_t entry = 0, entryOffset = 0;
    if (!PeEntryPoint(peHeaders, &entry) || !MapToStoredBytes(peHeaders, entry, &entryOffset)) return VerdictClean;

    uint8_t buffer[ElkernBufferSize];
    ViewReadAt(view, static_cast<int64_t>(entryOffset) - BlockMarkerLength, buffer, AbEntryLength);
    if (!HasElkernABEntry(buffer)) return VerdictClean;
    const uint32_t target = ElkernABBodyStart(entry, buffer);
    uint32_t bodyOffset = 0;
    if (!MapToStoredBytes(peHeaders, target, &bodyOffset)) return VerdictClean;

    ViewReadAt(view, bodyOffset, buffer, ElkernBufferSize);
    if (!HasElkernABBodyMarks(buffer)) return VerdictClean;
    DecodeElkernAB(buffer, AbCheckedLength);
    *found = ElkernABVariant(buffer);
    return *found != nullptr ? VerdictInfected : VerdictClean;
}

Verdict DetectC(FileView* view, const ByteBlock& peHeaders, ThreatName* found) {
    uint32_t entry = 0, entryOffset = 0;
    if (!PeEntryPoint(peHeaders, &entry) || !MapToStoredBytes(peHeaders, entry, &entryOffset)) return VerdictClean;

    uint8_t buffer[ElkernBufferSize];
    ViewReadAt(view, entryOffset, buffer, CEntryLength);
    const uint32_t target = ElkernCBodyStart(entry, buffer);
    uint32_t bodyOffset = 0;
    if (!MapToStoredBytes(peHeaders, target, &bodyOffset)) return VerdictClean;

    // buffer[k] is the byte at bodyOffset - 2 + k: the marker comes first.
    ViewReadAt(view, static_cast<int64_t>(bodyOffset) - BlockMarkerLength, buffer, ElkernBufferSize);
    if (!HasElkernCMarks(buffer)) return VerdictClean;

    *found = ElkernThreatC;
    return DecryptElkernC(buffer) ? VerdictInfected : VerdictWarning;
}

// Runs one detector on PE images that are not DLLs and records its finding.
// The kind and headers are the view's: the file is classified once.
Verdict RunDetector(FileView* view, ThreatName* found, Verdict (*detector)(FileView*, const ByteBlock&, ThreatName*)) {
    if ((view->kind & KindPeImage) == 0) return VerdictClean;
    ThreatName name = nullptr;
    const Verdict result = detector(view, view->peHeaders, &name);
    if (result != VerdictClean) *found = name;
    return result;
}

// The detection order over one view: the headers are read and the file
// classified once, and every check takes its bytes from there.
Verdict DetectThroughView(FileView* view, ThreatName* found) {
    if (MatchSignatures(view, found)) return VerdictInfected;
    const Verdict verdict = DetectElkernC(view, found);
    return verdict != VerdictClean ? verdict : DetectElkernAB(view, found);
}

}  // namespace

Verdict DetectElkernAB(FileView* view, ThreatName* found) { return RunDetector(view, found, DetectAB); }

Verdict DetectElkernC(FileView* view, ThreatName* found) { return RunDetector(view, found, DetectC); }

Verdict DetectThreatInView(FileView* view, ThreatName* found) { return DetectThroughView(view, found); }

Verdict DetectThreat(FileCheckContext* context) {
    FileView view;
    OpenFileView(&view, context->file);
    return DetectThroughView(&view, &context->threatName);
}

Verdict DetectThreatInMemory(FileCheckContext* context, const uint8_t* data, size_t size) {
    FileView view;
    OpenMemoryView(&view, data, size);
    return DetectThroughView(&view, &context->threatName);
}

uint64_t DetectionReach(const uint8_t* data, size_t size) {
    FileView view;
    OpenMemoryView(&view, data, size);
    view.reachOnly = true;
    ThreatName found = nullptr;
    DetectThroughView(&view, &found);
    return view.reach;
}
