// The only ways in which a scan writes to its front end. Each front end
// (the dialog, the command line, the test recorder) supplies all three.
#pragma once

// Shows a path in the object field; an empty path means all drives.
void ShowObject(const char* path);
// Appends one row; callers may reuse both buffers as soon as it returns.
void AddResultRow(const char* object, const char* status);
// Ends a run: the report rows and whatever the front end does afterwards.
void ReportResults();
