// The paths given on the command line: each is checked before anything is
// scanned, so that a typing error does not pass as a clean result, then
// scanned one by one. POSIX and Windows differ in how they are checked (see
// the two implementations).
#pragma once

#include "scan/fs.h"

struct StartingPath {
    // POSIX: a folder's own descriptor, or a file's name within the
    // descriptor of the folder that holds it, opened by the check, with the
    // identity then found; every later step acts within it, as the walk does.
    HandledEntry entry;
    PathKind kind = PathMissing;
};

// Checks that path can be scanned; otherwise writes one line on standard
// error saying why and returns false.
bool OpenStartingPath(const char* path, StartingPath* start);
// True when both name the same file or folder, which is then scanned once.
bool SameStartingPath(const StartingPath& a, const StartingPath& b);
void ScanStartingPath(StartingPath* start);
void CloseStartingPath(StartingPath* start);
