// What the command line says besides its rows: one line per problem on
// standard error, and the two facts the exit status is made of. Every part
// of the program (the front end, the starting paths, the quarantine and the
// restore) writes its messages here, so that none of them needs another.
#pragma once

// Set once a row could not be written; nothing more is written after it.
extern bool outputFailed;
// Set once anything could not be examined: a folder that could not be
// listed, a file that could not be opened, a path that was skipped.
extern bool scanErrors;

// One line on standard error naming the path (escaped as in the rows) and
// the reason, followed by the system's reason when error is not 0; the run
// then ends with the error bit in its exit status.
void ReportScanError(const char* path, const char* reason, int error = 0);
// The same line for what is no error (the run's exit status is not
// touched).
void ReportScanNote(const char* path, const char* reason, int error = 0);
