// The paths given on the command line: each is checked before anything is
// scanned, so that a typing error does not pass as a clean result, then
// scanned one by one. POSIX and Windows differ in how they are checked (see
// the two implementations).
#pragma once

#include "scan/fs.h"

struct StartingPath {
    // POSIX: the path, and for a file its name within the folder that holds
    // it, with the identity that the check found. Nothing stays open between
    // the check and the scan.
    HandledEntry entry;
    PathKind kind = PathMissing;
};

// Checks that path can be scanned; otherwise writes one line on standard
// error saying why and returns false. Whatever the check opens, it closes.
bool CheckStartingPath(const char* path, StartingPath* start);
// True when both name the same file or folder, which is then scanned once.
bool SameStartingPath(const StartingPath& a, const StartingPath& b);
// Opens the path again and scans it. On POSIX it must still be the file or
// folder that was checked; otherwise it is named on standard error, as an
// error, and nothing is scanned there.
void ScanStartingPath(StartingPath* start);
