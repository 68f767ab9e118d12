#pragma once

// Puts source in target's place now, or at the next restart; 1 on success.
// A restart-time request succeeds only once the system is found to hold it
// (adapters/fs_win32.cpp reads each one back), so that a cure reported for
// the restart is one the restart carries out.
int DeferredRename(const char* source, const char* target);
// Schedules the deletion of path for the next restart; nonzero on success,
// in the same sense.
int DeferredDelete(const char* path);
