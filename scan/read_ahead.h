// The walk with readers ahead of the handling. A disk serves many requests
// at once, and one thread issues one at a time: readers open and examine,
// read-only, the files the walk hands over, while the handling takes every
// step on the scanning thread in walk order, as the sequential walk does.
// A clean verdict is final; any other one is only a hint, and the handling
// examines that file again before it reports or writes anything.
#pragma once

#include <cstdint>

// Walks the tree opened by OpenTree with readers threads ahead of the
// handling; false, before any step, when no reader could be started.
bool WalkWithReaders(uint32_t readers);

// Called by a reader with the path shown of the file it is about to
// examine, on the reader's own thread; and by the handling with the path of
// the file whose examination it is about to wait for. Tests hold a reader
// there until the handling waits.
extern void (*seamReaderExamines)(const char* path);
extern void (*seamHandlingWaits)(const char* path);
// Called by a reader woken to look for files, on its own thread, before it
// looks. Tests hold it there while the handling goes on alone.
extern void (*seamReaderWakes)();
