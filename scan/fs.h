// Where the walk and the per-file handling meet the operating system. The
// Win32 adapter uses the platform's find, attribute, copy, move and delete
// functions; the POSIX adapter lists regular files and folders only, never
// follows symbolic links and has no restart-time operations.
#pragma once

#include <cstdint>

extern const char PathSeparator;

constexpr uint32_t EntryNameSize = 260;

struct DirEntry {
    char name[EntryNameSize];
    bool isDirectory;
};

struct DirSearch;

// pattern is a folder path with a trailing separator followed by "*.*".
// Returns nullptr when the folder cannot be listed or is empty of entries.
DirSearch* FindFirstEntry(const char* pattern, DirEntry* entry);
bool FindNextEntry(DirSearch* search, DirEntry* entry);
void FindCloseSearch(DirSearch* search);

// Bit i set for drive letter 'A' + i; always 0 where there are no drives.
uint32_t LogicalDriveMask();
bool IsFixedDrive(const char* root);

// What a starting path names, for front ends that check before a walk.
enum PathKind { PathMissing, PathFile, PathFolder, PathOther };
PathKind QueryPathKind(const char* path);
