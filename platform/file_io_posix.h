// POSIX-only file primitives for walks that work through folder
// descriptors, so that no path is resolved again between two steps.
#pragma once

#include <cstdint>

#include "engine/file_io.h"

// Opens name relative to the open folder descriptor folder (AT_FDCWD for a
// path given as such), with FileOpen's contract: no symbolic link is
// followed, only a regular file is accepted, a read/write handle holds the
// advisory lock. It also fails, with errno ESTALE, when the name no longer
// refers to the file with that device and inode number, the one the walk
// listed and examined. An inode of 0 (no file has it) means that the walk did
// not ask: whatever regular file the name refers to is opened, and
// FileIdentity tells which one it was.
FileHandle FileOpenAt(int folder, const char* name, int mode, uint64_t device, uint64_t inode);

// The device and inode of an open file, as found when it was opened.
void FileIdentity(FileHandle file, uint64_t* device, uint64_t* inode);
