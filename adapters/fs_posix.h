// POSIX-only: the file that the per-file handling has in hand, named within
// an open folder. A walk that holds folder descriptors sets it around each
// HandleFile, so that nothing is resolved by path again: a folder swapped
// for a symbolic link between two steps can then never lead outside the
// walked tree.
#pragma once

#include <cstdint>

// path is the text the per-file handling is given (the row text); only calls
// with that very pointer use the entry. folder is an open folder descriptor
// (or AT_FDCWD), name the entry's name in it, device and inode the identity
// of the file as it was listed.
void SetHandledEntry(const char* path, int folder, const char* name, uint64_t device, uint64_t inode);
void ClearHandledEntry();
