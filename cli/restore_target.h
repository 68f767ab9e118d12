// The way to a saved file: the path the save records, and the steps by which
// the restore reaches that path again and puts the file back.
//
// POSIX: the restore walks the recorded path from "/" by descriptors, one
// folder at a time, none of them a symbolic link, as the scan walks a tree;
// every later step (the hash of what is there, the temporary file, the
// check of what is there, the rename) acts within the last folder's
// descriptor, so a folder swapped for a link at any moment can never lead
// it elsewhere. Windows: every step acts by path, after a check that no
// folder on the way is a reparse point (a junction or a symbolic link).
#pragma once

#include <cstdint>
#include <string>

#include "cli/quarantine_format.h"
#include "engine/file_io.h"
#include "scan/fs.h"

enum class TargetStatus {
    Done,
    Gone,     // a folder on the way is missing (or is no folder now)
    Link,     // a folder on the way is a link
    NotFile,  // what is at the target is not a regular file
    Changed,  // the target is not what was hashed (or is no longer absent)
    DiskFull,
    Damaged,  // the saved copy is not what its header and line say
    Failed,   // any other error, the system's code says which
};

struct RestoreTarget {
    std::string path;  // as recorded
    std::string name;  // its last name (Windows: the whole path)
    int folder = -1;   // POSIX: the folder that holds it
    bool exists = false;  // a regular file is there, whose digest was taken
    uint64_t device = 0;  // POSIX: the identity and mode of that file
    uint64_t inode = 0;
    uint32_t mode = 0;
    std::string temporary;  // the name of the temporary file, once made
    FileHandle written = InvalidFileHandle;
    int writtenFd = -1;  // POSIX: its descriptor, and its identity
    uint64_t writtenDevice = 0;
    uint64_t writtenInode = 0;
    bool placed = false;
};

// Reaches the folder that holds the recorded path.
TargetStatus ReachTarget(const std::string& path, RestoreTarget* target, int* error);
// Takes the digest of what is at the target: exists is false when nothing
// is there; NotFile when it is not a regular file.
TargetStatus HashTarget(RestoreTarget* target, char hex[65], int* error);
// Makes the temporary file beside the target (its name followed by
// ".vq-restore"), first removing one that an earlier restore cut short left
// there.
TargetStatus CreateTemporary(RestoreTarget* target, int* error);
// Gives the temporary file the saved owner, group and mode (owner and group
// first, then the mode; a set-user-ID or set-group-ID bit only when the owner
// and group could be given back), or, without them, the mode of the file it
// replaces; then brings it to the disk and closes it. ownerKept is false
// when the owner could not be given back.
TargetStatus FinishTemporary(RestoreTarget* target, const SavedOwner& owner, bool* ownerKept, int* error);
// Puts the temporary file in the target's place, while the target is still
// the file that was hashed (or still absent), and brings that to the disk.
TargetStatus PlaceTarget(RestoreTarget* target, int* error);
// Removes the temporary file unless it was put in place, and lets go of the
// folder.
void CloseTarget(RestoreTarget* target);

// A write failed for want of room (a full disk, a quota, a size limit).
bool IsDiskFullError(int error);
// A write past the file size limit fails instead of ending the program,
// which would leave a temporary file behind.
void IgnoreFileSizeLimitSignal();

// For the save: the absolute path by which a restore will reach the
// examined file (POSIX: the real path of its folder from "/", walked and
// found to hold that very file under that name; Windows: its full path), and
// its owner where the platform has one. False, with error, when it cannot be
// told.
bool RecordedPathOf(const HandledEntry& file, FileHandle examined, std::string* path, SavedOwner* owner, int* error);
// A path given to --restore in the form of the recorded paths, so that the
// two compare: absolute, as written (real false) or (POSIX, real set) with
// the links it goes through resolved, where it exists.
std::string AbsoluteForm(const char* path, bool real);
