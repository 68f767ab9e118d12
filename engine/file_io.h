// File, memory and checksum primitives that every reader of scanned files
// stands on. One implementation per platform family lives under adapters/;
// everything above these names is written once.
#pragma once

#include <cstddef>
#include <cstdint>

struct FileObject;
using FileHandle = FileObject*;
constexpr FileHandle InvalidFileHandle = nullptr;

// A read/write open also takes the platform's lock against other writers.
enum class OpenMode { Read, ReadWrite };

FileHandle FileOpen(const char* path, OpenMode mode);
int FileClose(FileHandle file);
// Creates a new file for reading and writing, readable by its owner alone
// where the platform can say so; fails when path exists (a link included).
FileHandle FileCreate(const char* path);
// Brings what was written to the disk; false when that failed.
bool FileFlush(FileHandle file);

// Transfer counts are what the platform reports; a failed or short
// transfer only shows as a smaller count.
uint32_t FileRead(FileHandle file, void* buffer, uint32_t count);
uint32_t FileWrite(FileHandle file, const void* buffer, uint32_t count);
// One transfer, which may bring fewer bytes than asked before the end of the
// file (FileRead keeps reading until the end); for readers that read on
// where the bytes they got do not suffice.
uint32_t FileReadOnce(FileHandle file, void* buffer, uint32_t count);

// The largest file position (2 GiB - 1): positions are signed 32-bit, and
// neither a seek, a read nor a size goes beyond it.
constexpr uint32_t LargestFilePosition = 0x7FFFFFFFu;

// The values are those of the Win32 move methods (FILE_BEGIN, FILE_CURRENT,
// FILE_END), to which the origin is handed as it is.
enum class SeekOrigin : int { Begin = 0, Current = 1, End = 2 };

// A seek that fails (a negative result, an unknown origin) poisons the
// handle: the next FileRead gets nothing and the next FileWrite writes
// nothing, until a seek succeeds. Otherwise a hostile negative offset would
// make the following transfer act at whatever position the previous one
// left behind.
void FileSeek(FileHandle file, int32_t distance, SeekOrigin origin);

// Size of the open file; false when it cannot be told or exceeds
// LargestFilePosition.
bool FileGetSize(FileHandle file, uint32_t* size);

// The size the file had when it was opened, for readers that want to know
// where its end is without asking the system again; false when it cannot be
// told. Reads still report what the file holds when they happen.
bool FileSizeAtOpen(FileHandle file, uint32_t* size);

void* BlockAlloc(size_t size);
void BlockFree(void* block);
void* FillBytes(void* buffer, int value, uint32_t count);
