#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/check_context.h"
#include "engine/file_view.h"

// Signature table first, then Elkern.C, then Elkern.A/B, all over one view
// of the context's file. Returns Clean, Infected or Warning.
Verdict DetectThreat(FileCheckContext* context);

// DetectThreat over a view the caller opened, so that what else the caller
// makes of the file's first bytes needs no second read of them.
Verdict DetectThreatInView(FileView* view, ThreatName* found);

// DetectThreat over bytes in memory, through the same view as a file; the
// context's file is not used.
Verdict DetectThreatInMemory(FileCheckContext* context, const uint8_t* data, size_t size);

// How many leading bytes detection reads of something whose first size
// bytes are these. When it is at most size, detection over any longer
// thing that begins with them gives the verdict it gives over them: what
// follows need not be had (an attachment still being decoded).
uint64_t DetectionReach(const uint8_t* data, size_t size);

// The Elkern detectors over a view of the file. A finding names its threat
// in *found; a clean file leaves it alone.
Verdict DetectElkernAB(FileView* view, ThreatName* found);
Verdict DetectElkernC(FileView* view, ThreatName* found);
