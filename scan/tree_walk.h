// The walk of a folder tree, as a series of steps in the manner of fts: a
// folder is entered, its files are handed over one by one, its subfolders
// walked in listing order, and it is left. The scan's loop (scan/walk.cpp)
// counts, shows and handles; the adapters only list. One walk at a time per
// process.
#pragma once

#include "scan/fs.h"

enum class TreeEvent {
    EnterFolder,     // entry.path is the folder's path with its separator
    LeaveFolder,     // the same path again
    File,            // entry is the file in hand
    PathTooLong,     // an entry of the folder entry.path does not fit the path buffer
    FolderProblem,   // the folder entry.path could not be (fully) walked
};

enum class FolderProblem {
    Unlisted,  // could not be listed (error says why)
    Unopened,  // a subfolder could not be opened (error says why)
    Replaced,  // swapped for something else since it was listed
    Moved,     // moved away while the walk was inside it: the rest is skipped
    OtherDevice,  // on another file system than the start, passed over as asked
};

// Where a walk stops, given to it when it starts.
struct TreeLimits {
    // Do not descend into a folder on another file system than the start's
    // (Windows: a mounted volume or junction).
    bool stayOnDevice = false;
    // A folder with this identity (see FolderIdentity) is passed over in
    // silence: the program's own folder inside the tree.
    bool skipFolder = false;
    uint64_t skipDevice = 0;
    uint64_t skipInode = 0;
    // Where no identity can be told (the 95/98/Me family): the same folder
    // by its path as given, ignoring case.
    // Must outlive the walk.
    const char* skipPath = nullptr;
};

struct TreeStep {
    TreeEvent event = TreeEvent::EnterFolder;
    HandledEntry entry;  // valid until the next step
    FolderProblem problem = FolderProblem::Unlisted;
    int error = 0;  // the system's error code, 0 when none applies
};

// Starts a walk at the folder start names. On POSIX start.folder may be an
// open descriptor of that folder itself, which the walk then owns and checks
// against start's identity; otherwise the walk opens start.path.
// The walk keeps its own copy of limits.
void OpenTree(const HandledEntry& start, const TreeLimits& limits);
// The next step; false once the starting folder has been left.
bool NextStep(TreeStep* step);
// The remaining steps only leave the folders entered so far; a folder that
// was entered but not yet listed is left without a step of its own.
void StopTree();
