#include "engine/file_at.h"

namespace {

bool SeekTo(FileHandle file, int64_t position) {
    if (position < 0 || position > LargestFilePosition) return false;
    FileSeek(file, static_cast<int32_t>(position), SeekOrigin::Begin);
    return true;
}

}  // namespace

uint32_t ReadAt(FileHandle file, int64_t position, void* buffer, uint32_t count) {
    FillBytes(buffer, 0, count);
    if (!SeekTo(file, position)) return 0;
    return FileRead(file, buffer, count);
}

uint32_t WriteAt(FileHandle file, int64_t position, const void* buffer, uint32_t count) {
    if (!SeekTo(file, position)) return 0;
    return FileWrite(file, buffer, count);
}
