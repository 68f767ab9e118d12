#include "engine/detectors.h"

#include "engine/elkern_layout.h"
#include "engine/exe_headers.h"
#include "engine/file_view.h"
#include "engine/signatures.h"
#include "engine/view_scope.h"

namespace {

// An entry point or target whose address has no bytes in the file (file
// offset 0) ends the detector with 0 at once: there is nothing to look at.
int DetectAB(FileView* view, const ByteBlock& peHeaders, ThreatName* found) {
    uint32_t entry = 0, entryOffset = 0;
    if (!PeEntryPoint(peHeaders, &entry) || !MapToStoredBytes(peHeaders, entry, &entryOffset)) return 0;

    uint8_t buffer[ElkernBufferSize];
    ViewReadAt(view, static_cast<int64_t>(entryOffset) - 2, buffer, 7);
    if (!HasElkernABEntry(buffer)) return 0;
    const uint32_t target = ElkernABBodyStart(entry, buffer);
    uint32_t bodyOffset = 0;
    if (!MapToStoredBytes(peHeaders, target, &bodyOffset)) return 0;

    ViewReadAt(view, bodyOffset, buffer, ElkernBufferSize);
    if (!HasElkernABBodyMarks(buffer)) return 0;
    DecodeElkernAB(buffer, AbCheckedLength);
    *found = ElkernABVariant(buffer);
    return *found != nullptr ? VerdictInfected : VerdictClean;
}

int DetectC(FileView* view, const ByteBlock& peHeaders, ThreatName* found) {
    uint32_t entry = 0, entryOffset = 0;
    if (!PeEntryPoint(peHeaders, &entry) || !MapToStoredBytes(peHeaders, entry, &entryOffset)) return 0;

    uint8_t buffer[ElkernBufferSize];
    ViewReadAt(view, entryOffset, buffer, 5);
    const uint32_t target = ElkernCBodyStart(entry, buffer);
    uint32_t bodyOffset = 0;
    if (!MapToStoredBytes(peHeaders, target, &bodyOffset)) return 0;

    // buffer[k] is the byte at bodyOffset - 2 + k: the marker comes first.
    ViewReadAt(view, static_cast<int64_t>(bodyOffset) - 2, buffer, ElkernBufferSize);
    if (!HasElkernCMarks(buffer)) return 0;

    *found = ElkernThreatNames[2];
    return DecryptElkernC(buffer) ? VerdictInfected : VerdictWarning;
}

// Runs one detector on PE images that are not DLLs and records its finding.
// The kind and headers are the view's: the file is classified once.
int RunDetector(FileCheckContext* context, int (*detector)(FileView*, const ByteBlock&, ThreatName*)) {
    ViewScope scope(context);
    if ((scope.view->kind & KindPeImage) == 0) return 0;
    ThreatName found = nullptr;
    const int result = detector(scope.view, scope.view->peHeaders, &found);
    if (result != VerdictClean) context->threatName = found;
    return result;
}

}  // namespace

int DetectElkernAB(FileCheckContext* context) { return RunDetector(context, DetectAB); }

int DetectElkernC(FileCheckContext* context) { return RunDetector(context, DetectC); }

namespace {

// The detection order over one view: the headers are read and the file
// classified once, and every check takes its bytes from there.
int DetectThroughView(FileCheckContext* context, FileView* view) {
    FileView* const outer = context->view;
    context->view = view;
    int verdict = VerdictClean;
    if (MatchSignatures(context)) {
        verdict = VerdictInfected;
    } else {
        verdict = DetectElkernC(context);
        if (verdict == VerdictClean) verdict = DetectElkernAB(context);
    }
    context->view = outer;
    return verdict;
}

}  // namespace

int DetectThreat(FileCheckContext* context) {
    FileView view;
    OpenFileView(&view, context->file);
    return DetectThroughView(context, &view);
}

int DetectThreatInMemory(FileCheckContext* context, const uint8_t* data, size_t size) {
    FileView view;
    OpenMemoryView(&view, data, size);
    return DetectThroughView(context, &view);
}
