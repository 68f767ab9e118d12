// The only ways in which a scan writes to its front end. Each front end
// (the dialog, the command line, the test recorder) supplies all three.
//
// Threads: a scan runs on one worker thread (the dialog's) or on the main
// thread (the command line). The dialog's implementations only send
// messages to its window, so the user-interface thread does the work before
// each call returns; the dialog's state (scan state, buttons) is changed on
// that thread alone.
#pragma once

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
