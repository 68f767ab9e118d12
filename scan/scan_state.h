// Process-wide values of a scan run. Only the worker touches them while a
// scan runs, except keepScanning, which the front end sets before a run
// starts and the user-interface thread (or a signal) clears.
#pragma once

#include <atomic>
#include <cstdint>

// Paths are text: on the NT family WTF-8 (platform/wtf8.h), at most three
// bytes for each of the 32,767 UTF-16 units the system's paths may hold; on
// the 95/98/Me family the code page's bytes, far fewer.
constexpr uint32_t LongestPathUnits = 32767;
constexpr uint32_t ObjectPathSize = 3 * LongestPathUnits + 1;
// The folder browser gives at most MAX_PATH units.
constexpr uint32_t SelectedFolderSize = 3 * 260 + 1;

struct ScanCounters {
    int32_t folders;
    int32_t files;
    int32_t infected;
    int32_t warnings;
    int32_t suspicious;
    int32_t disinfected;
    int32_t deleted;
    int32_t disinfectedAtRestart;
    int32_t deletedAtRestart;
    int32_t failed;
    int32_t openErrors;
    // Inside mail folders and archives, which are only ever reported: the
    // messages with an infected attachment, the archives with an infected
    // entry, and entries compressed in a way that is not read.
    int32_t infectedMessages;
    int32_t infectedArchives;
    int32_t notExamined;
};

extern char CurrentObjectPath[ObjectPathSize];
extern char SelectedFolder[SelectedFolderSize];
extern ScanCounters ScanStatistics;
// Read afresh at every test; relaxed ordering is enough for a stop request.
extern std::atomic<int32_t> keepScanning;
inline bool StillScanning() { return keepScanning.load(std::memory_order_relaxed) != 0; }
// When set, files are examined and reported but never changed.
extern bool detectOnly;
// How many readers examine files ahead of the handling; 1 examines each
// file on the scanning thread as it is handled. Set by a front end before
// a run.
constexpr uint32_t DefaultScanReaders = 16;
constexpr uint32_t MostScanReaders = 256;
extern uint32_t scanReaders;
// Where walks stop, set by a front end before a run; each walk is given a
// copy when it starts.
struct TreeLimits;
extern TreeLimits treeLimits;

void ResetScanStatistics();
