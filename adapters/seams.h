// Where tests step into the adapters: make one write or one
// restart-time request fail, or change a file just before it is opened for
// writing, as another program could. Idle unless a test sets them; they cost
// the scanner one comparison per call.
#pragma once

#include <atomic>
#include <cstdint>

// FileWrite calls are numbered from 1 since seamWriteCount was last set to
// 0; the call whose number is seamFailWrite writes nothing. 0 fails none.
extern uint32_t seamWriteCount;
extern uint32_t seamFailWrite;

// FileFlush calls, numbered in the same way; the one to fail flushes
// nothing.
extern uint32_t seamFlushCount;
extern uint32_t seamFailFlush;

// Told of every write as it transfers its bytes (where, and what) and of
// every flush that succeeded, in the order they happen, so that a test can
// rebuild what a power cut at any moment could leave on the disk.
extern void (*seamWritten)(int64_t position, const void* data, uint32_t count);
extern void (*seamFlushed)();

// Restart-time requests (scheduled deletions and moves, wininit.ini
// entries), numbered in the same way.
extern uint32_t seamRequestCount;
extern uint32_t seamFailRequest;

// Where the platform has no restart-time operations (POSIX), a test may set
// this to pretend it has: requests then go here (to is null for a deletion)
// instead of failing, and files that cannot be written are treated through
// a copy as on Windows.
extern bool (*seamRestartRequest)(const char* from, const char* to);

// POSIX walk: called with the name of an entry (a file within its folder,
// a subfolder) right before it is opened; a non-zero result fails the open
// with that error, as a file its user may not read would. It may also act
// on the tree (remove the folder about to be opened). The scan's readers
// call it on threads of their own.
extern int (*seamOpenError)(const char* name);

// Called with the path right before FileOpen opens a file for reading and
// writing.
extern void (*seamBeforeWritableOpen)(const char* path);

// Blocks from BlockAlloc not yet given to BlockFree, so that a test can
// tell that a check, a repair or a copy gives back all it took. Readers
// allocate on threads of their own; a relaxed step costs nothing next to
// the allocation. ResetSeams leaves it alone: it counts, it does not fail.
extern std::atomic<int32_t> seamLiveBlocks;

// Count one call and tell whether it is the one to fail.
bool SeamFailsWrite();
bool SeamFailsRequest();
bool SeamFailsFlush();

void ResetSeams();
