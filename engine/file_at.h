// Positioned transfers for readers of hostile files. The buffer is cleared
// before every read, so bytes the file did not supply read as zeros and never
// as leftovers of an earlier read; a position outside the signed 32-bit range
// transfers nothing rather than acting at the old file position.
#pragma once

#include <cstdint>

#include "engine/file_io.h"

uint32_t ReadAt(FileHandle file, int64_t position, void* buffer, uint32_t count);
uint32_t WriteAt(FileHandle file, int64_t position, const void* buffer, uint32_t count);
