// The paths given on the command line: checked before anything is scanned,
// then scanned one by one. POSIX and Windows differ in how (see the two
// implementations).
#pragma once

#include <cstdint>

#include "scan/fs.h"

struct StartingPath {
    const char* path;
    const char* name;  // POSIX: a file's name within folder
    PathKind kind;
    int folder;  // POSIX: the folder's descriptor, or that of the file's folder, opened by the check
    uint64_t device;
    uint64_t inode;
};

// Checks that path can be scanned; otherwise writes one line on standard
// error saying why and returns false.
bool OpenStartingPath(const char* path, StartingPath* start);
// True when both name the same file or folder, which is then scanned once.
bool SameStartingPath(const StartingPath& a, const StartingPath& b);
void ScanStartingPath(StartingPath* start);
void CloseStartingPath(StartingPath* start);

// For noteUnopenedFile: reports the file that the scan could not open,
// unless it merely went away since it was listed.
void NoteUnopenedFile(const char* path);
// For noteUnlistedFolder (Windows, whose scanner uses the shared walk).
void NoteUnlistedFolder(const char* path);
