#pragma once

#include "engine/file_io.h"
#include "engine/threats.h"

// Results of detection. The engine produces Clean, Infected and Warning;
// the per-file handling serves the full set.
enum Verdict : int {
    VerdictClean = 0,
    VerdictInfected = 1,
    VerdictSuspicious = 2,
    VerdictOpenError = 4,
    VerdictWarning = 5,
};

// The record of one file check: the file, and the threat a check named.
struct FileCheckContext {
    const char* path = nullptr;
    ThreatName threatName = nullptr;
    FileHandle file = InvalidFileHandle;
};
