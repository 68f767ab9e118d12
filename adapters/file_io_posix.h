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
// not ask: whatever the name refers to is opened, and FileIdentity tells
// which file it was. A read-only open of that kind asks no status at all (its
// size at open is unknown); FileIdentity then refuses what is not a regular
// file.
FileHandle FileOpenAt(int folder, const char* name, OpenMode mode, uint64_t device, uint64_t inode);

// The device and inode of an open regular file, as found when it was opened
// or, for an open that asked no status, when first asked; false (and zeros)
// when the handle is not a regular file.
bool FileIdentity(FileHandle file, uint64_t* device, uint64_t* inode);

// Takes a descriptor that the caller opened itself (relative to a folder
// descriptor, with the flags its step needs) into a handle, which then owns
// it: FileClose closes it. The caller may go on using the descriptor for
// what a handle cannot do (fchown, fchmod) while the handle is open. Only a
// regular file is taken, without a lock; otherwise the descriptor is closed
// and errno says why (ESTALE for what is no regular file).
FileHandle FileAdopt(int fd);
