#pragma once

#include <cstdint>

// The worker's whole run: walk SelectedFolder, or every fixed drive when it
// is empty, then show the selection again and report.
uint32_t ScanWorker(void* parameter);
void ScanAllFixedDrives();
void ScanSingleFolder(const char* path);
void StopScan();
// Walks the folder named in CurrentObjectPath, recursively.
void WalkFolder();
// Examines the file named in CurrentObjectPath.
void HandleFile();

// Row text for an entry whose path does not fit the path buffer.
extern const char* const PathTooLongText;
