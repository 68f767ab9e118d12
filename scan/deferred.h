#pragma once

// Puts source in target's place now, or at the next restart; 1 on success.
int DeferredRename(const char* source, const char* target);
// Schedules the deletion of path for the next restart; nonzero on success.
int DeferredDelete(const char* path);
