#include "scan/scan_state.h"

#include "scan/tree_walk.h"

char CurrentObjectPath[ObjectPathSize];
char SelectedFolder[SelectedFolderSize];
ScanCounters ScanStatistics;
std::atomic<int32_t> keepScanning{1};
bool detectOnly;
uint32_t scanReaders = DefaultScanReaders;

void ResetScanStatistics() { ScanStatistics = ScanCounters{}; }
TreeLimits treeLimits;
