// Where the walk and the per-file handling meet the operating system. The
// Win32 adapter uses the platform's find, attribute, copy, move and delete
// functions; the POSIX adapter lists regular files and folders only, never
// follows symbolic links and has no restart-time operations.
#pragma once

#include <cstdint>

#include "engine/file_io.h"
#include "platform/family.h"

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
// PathLink (POSIX only) is a symbolic link, which is never followed.
enum PathKind { PathMissing, PathFile, PathFolder, PathOther, PathLink };
PathKind QueryPathKind(const char* path);

// File operations of the per-file handling; each returns true on success.
// The POSIX adapter may have the file in hand set by name within an open
// folder (adapters/fs_posix.h): for that very path text, the open, the
// attribute change and the deletion then act through the folder's
// descriptor instead of resolving the path again.
FileHandle OpenHandledFile(const char* path, OpenMode mode);  // FileOpen's modes
// After a finding, while the examined file is still open: the steps that
// follow must meet that very file. False (the file counts as one that could
// not be opened) when what was examined turns out not to be a regular file.
bool PinExaminedFile(const char* path, FileHandle file);
bool ClearAttributes(const char* path);  // so that a read-only file can be repaired or deleted
bool PathExists(const char* path);
bool CopyFileNew(const char* from, const char* to);  // fails when to exists
bool DeletePath(const char* path);
bool MovePath(const char* from, const char* to);  // fails when to exists

// Restart-time requests. Only the Windows NT family carries out scheduled
// deletions and moves; the 95/98/Me family takes renames from wininit.ini.
// Where there are none at all, a file that cannot be written cannot be
// treated through a copy either.
bool HasRestartOperations();
bool ScheduleDelete(const char* path);
bool ScheduleMove(const char* from, const char* to);
bool WriteWininitRename(const char* target, const char* source);
