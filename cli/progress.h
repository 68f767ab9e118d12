// A one-line progress display on standard error, shown only when that is a
// terminal: files examined, folders, findings, the current folder, files per
// second. The rows on standard output never carry it.
#pragma once

// Decides once whether to show anything (not when quiet, nor when standard
// error is not a terminal) and starts the clock.
void ProgressStart(bool quiet);
// The walk entered or left a folder.
void ProgressFolder(const char* path);
// A file was examined; redraws at most a few times a second.
void ProgressTick();
// Erases the line, so that another line can be written in its place; the
// next tick draws it again.
void ProgressClear();
// Erases the line for good.
void ProgressEnd();
