#pragma once

#include "engine/check_context.h"

// Signature table first, then Elkern.C, then Elkern.A/B. Returns 0, 1 or 5.
int DetectThreat(FileCheckContext* context);
int DetectElkernAB(FileCheckContext* context);
int DetectElkernC(FileCheckContext* context);
