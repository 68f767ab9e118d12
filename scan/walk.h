// The scan run: the worker's whole run, the walk of a folder or of every
// fixed drive, and the stop request.
#pragma once

#include <cstdint>

#include "scan/fs.h"

// Walks SelectedFolder, or every fixed drive when it is empty, then shows
// the selection again and reports.
uint32_t ScanWorker(void* parameter);
void ScanAllFixedDrives();
void ScanSingleFolder(const char* path);
void StopScan();
// Walks the folder named in CurrentObjectPath, recursively.
void WalkFolder();
// Walks the folder start names (on POSIX possibly an open descriptor of it,
// which the walk then owns).
void WalkFolder(const HandledEntry& start);
