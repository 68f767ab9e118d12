// Where the per-file handling meets the operating system. The Win32 adapter
// uses the platform's attribute, copy, move and delete functions; the POSIX
// adapter acts on regular files only, never follows symbolic links and has
// no restart-time operations.
#pragma once

#include <cstdint>

#include "engine/file_io.h"
#include "platform/family.h"

extern const char PathSeparator;

// For HandledEntry::folder: the file is reached by its path.
constexpr int ByPath = -1;

// The file in hand: the path shown in its rows, and how the file is reached.
// On POSIX a walk hands over an entry named within an open folder, with the
// identity it was listed with, so that no step resolves the path again: a
// folder swapped for a symbolic link between two steps can then never lead
// outside the walked tree. Windows reaches every file by a path of its own,
// which may differ from the one shown: on the NT family the verbatim form
// (\\?\) built from the names as listed, on the 95/98/Me family a short name
// where the code page cannot spell the long one.
struct HandledEntry {
    const char* path = nullptr;
    int folder = ByPath;  // POSIX: descriptor of the folder holding the file
    // POSIX: the file's name within folder. ByPath: the path that reaches
    // the file, or null when no name reaches it (it is then reported as a
    // file that cannot be opened).
    const char* name = nullptr;
    uint64_t device = 0;  // identity as listed; inode 0 until it is learnt
    uint64_t inode = 0;
};

inline HandledEntry EntryForPath(const char* path) { return HandledEntry{path, ByPath, path, 0, 0}; }

// POSIX: a descriptor of its own for the open folder, for files handed
// over within it that are still to be examined after the walk has left it;
// ByPath when none could be had (and always on Windows, where files are
// reached by path). ReleaseFolder closes what HoldFolder gave.
int HoldFolder(int folder);
void ReleaseFolder(int held);

// Bit i set for drive letter 'A' + i; always 0 where there are no drives.
uint32_t LogicalDriveMask();
bool IsFixedDrive(const char* root);

// What a starting path names, for front ends that check before a walk.
// PathLink (POSIX only) is a symbolic link, which is never followed.
enum PathKind { PathMissing, PathFile, PathFolder, PathOther, PathLink };
PathKind QueryPathKind(const char* path);

// The steps of the per-file handling on the file in hand; each returns true
// on success. An open of an entry whose identity is unknown may learn it.
FileHandle OpenHandledFile(HandledEntry* file, OpenMode mode);
// After a finding, while the examined file is still open: the steps that
// follow must meet that very file. False (the file counts as one that could
// not be opened) when what was examined turns out not to be a regular file.
bool PinExaminedFile(HandledEntry* file, FileHandle open);
// So that a read-only file can be repaired or deleted.
bool ClearAttributes(const HandledEntry& file);
// Removes the file in hand, but only while its name still refers to the
// file that was examined.
bool DeleteHandledFile(const HandledEntry& file);

// Steps on the copies made for files in use, which are reached by path.
bool PathExists(const char* path);
bool CopyFileNew(const char* from, const char* to);  // fails when to exists
bool DeletePath(const char* path);
bool MovePath(const char* from, const char* to);  // fails when to exists
// Puts from in to's place, replacing what is there.
bool ReplacePath(const char* from, const char* to);

// A folder of the program's own, private to its owner where the platform
// can say so; true also when it is there already.
bool MakePrivateFolder(const char* path);
// The identity of the folder path names (on Windows the volume and the
// file index); false where it cannot be told.
bool FolderIdentity(const char* path, uint64_t* device, uint64_t* inode);

// Restart-time requests. Only the Windows NT family carries out scheduled
// deletions and moves; the 95/98/Me family takes renames from wininit.ini.
// Where there are none at all, a file that cannot be written cannot be
// treated through a copy either.
bool HasRestartOperations();
bool ScheduleDelete(const char* path);
bool ScheduleMove(const char* from, const char* to);
bool WriteWininitRename(const char* target, const char* source);
