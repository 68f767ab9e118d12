#pragma once

#include <cstddef>
#include <cstdint>

#include "engine/check_context.h"

// Signature table first, then Elkern.C, then Elkern.A/B. Returns 0, 1 or 5.
int DetectThreat(FileCheckContext* context);
int DetectElkernAB(FileCheckContext* context);
int DetectElkernC(FileCheckContext* context);

// DetectThreat over bytes in memory, through the same view as a file; the
// context's file is not used.
int DetectThreatInMemory(FileCheckContext* context, const uint8_t* data, size_t size);
