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

struct FileView;

// The record of one file check. While DetectThreat runs, view is the one
// view of the file that every check reads through; a check called on its
// own opens a view of its own over file.
struct FileCheckContext {
    const char* path = nullptr;
    ThreatName threatName = nullptr;
    FileHandle file = InvalidFileHandle;
    FileView* view = nullptr;
};
