// The only ways in which a scan writes to its front end. Each front end
// (the dialog, the command line, the test recorder) supplies all of them.
//
// Threads: a scan runs on one worker thread (the dialog's) or on the main
// thread (the command line). The dialog's implementations only send
// messages to its window, so the user-interface thread does the work before
// each call returns; the dialog's state (scan state, buttons) is changed on
// that thread alone.
#pragma once

#include "scan/tree_walk.h"

// Shows a path in the object field; an empty path means all drives.
// Called by the walk and the worker, and on the user-interface thread when
// the dialog starts and when a folder is chosen.
void ShowObject(const char* path);
// Appends one row; callers may reuse both buffers as soon as it returns.
// Called by the per-file handling and the report, on the scanning thread.
void AddResultRow(const char* object, const char* status);
// Ends a run: the report rows and whatever the front end does afterwards.
// The scanning thread's last call of a run; the dialog returns to idle only
// once it has been handled.
void ReportResults();

// Notes for a front end that tells what could not be examined, or how far
// the scan has come; the dialog's rows already say all it shows.
// A file could not be opened for its first examination; errno (or the last
// Win32 error) is still as the open left it.
void NoteUnopenedFile(const char* path);
// A folder could not be (fully) walked; error is the system's code, 0 when
// none applies. A folder that went away meanwhile is noted too.
void NoteUnlistedFolder(const char* path, FolderProblem problem, int error);
// An entry of the folder path was not examined: its path is too long; the
// row that says so has been added.
void NotePathTooLong(const char* path);
// A file of a walk has been examined.
void NoteFileExamined();

// What became of a file that was saved before it was changed.
enum class ChangeOutcome { Disinfected, Deleted, DisinfectedAtRestart, DeletedAtRestart, Failed };

// Before the first change to the file in hand (a repair, a deletion, a copy
// to take its place), while the examined file is still open: a front end
// that keeps what it changes saves it here, from that very open file. False
// when it could not: the file is then left as it is.
bool SaveBeforeChange(const HandledEntry& file, FileHandle examined);
// After the handling of a file that SaveBeforeChange saved. curedCopy names
// the copy that takes the file's place at the next restart, or is null.
void NoteChangeDone(HandledEntry* file, ChangeOutcome outcome, const char* curedCopy);
