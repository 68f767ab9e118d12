// Win32 file primitives: the access and share modes decide what other
// processes may do while the scanner holds a file, so they are exact.
#include <windows.h>

#include <cstdint>
#include <new>

#include "adapters/seams.h"
#include "adapters/system_path_win32.h"
#include "engine/file_io.h"
#include "platform/family.h"

// The wanted position is kept here and the system's file pointer moved only
// when a transfer needs it elsewhere: reads that follow each other cost no
// seek. Windows 98 has no positioned reads on ordinary handles, so the
// pointer itself stays the means.
struct FileObject {
    HANDLE handle;
    bool seekFailed;
    int64_t position;        // where the next transfer acts
    int64_t systemPosition;  // where the system's pointer is
};

namespace {

bool PlacePointer(FileObject* file) {
    if (file->position == file->systemPosition) return true;
    // Transfers may have carried the position past the largest one, which
    // the scanner does not address.
    if (file->position > LargestFilePosition) return false;
    const DWORD moved = SetFilePointer(file->handle, static_cast<LONG>(file->position), nullptr, FILE_BEGIN);
    if (moved == INVALID_SET_FILE_POINTER) return false;
    file->systemPosition = file->position;
    return true;
}

FileHandle Adopt(HANDLE handle) {
    if (handle == INVALID_HANDLE_VALUE) return InvalidFileHandle;
    auto* file = new (std::nothrow) FileObject{handle, false, 0, 0};
    if (file == nullptr) CloseHandle(handle);
    return file;
}

// On the NT family the path is WTF-8 and is opened by its wide name; the
// 95/98/Me family takes the code page's text as it is.
HANDLE Create(const char* path, DWORD access, DWORD share, DWORD disposition, DWORD flags) {
    if (!IsNtFamily()) return CreateFileA(path, access, share, nullptr, disposition, flags, nullptr);
    SystemPath wide;
    if (!ToSystemPath(path, &wide)) return INVALID_HANDLE_VALUE;
    return CreateFileW(wide.text, access, share, nullptr, disposition, flags, nullptr);
}

}  // namespace

FileHandle FileOpen(const char* path, OpenMode mode) {
    if (mode == OpenMode::ReadWrite && seamBeforeWritableOpen != nullptr) seamBeforeWritableOpen(path);
    const DWORD access = mode == OpenMode::ReadWrite ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
    return Adopt(Create(path, access, FILE_SHARE_READ, OPEN_EXISTING, 0));
}

FileHandle FileCreate(const char* path) {
    return Adopt(Create(path, GENERIC_READ | GENERIC_WRITE, 0, CREATE_NEW, FILE_ATTRIBUTE_NORMAL));
}

bool FileFlush(FileHandle file) {
    if (file == InvalidFileHandle || SeamFailsFlush() || !FlushFileBuffers(file->handle)) return false;
    if (seamFlushed != nullptr) seamFlushed();
    return true;
}

int FileClose(FileHandle file) {
    if (file == InvalidFileHandle) return 0;
    const BOOL ok = CloseHandle(file->handle);
    delete file;
    return ok ? 1 : 0;
}

uint32_t FileRead(FileHandle file, void* buffer, uint32_t count) {
    if (file == InvalidFileHandle || file->seekFailed || !PlacePointer(file)) return 0;
    DWORD done = 0;
    if (!ReadFile(file->handle, buffer, count, &done, nullptr)) {
        // The count the system reports stands, success flag or not.
    }
    file->position += done;
    file->systemPosition = file->position;
    return done;
}

// ReadFile is one transfer already.
uint32_t FileReadOnce(FileHandle file, void* buffer, uint32_t count) { return FileRead(file, buffer, count); }

uint32_t FileWrite(FileHandle file, const void* buffer, uint32_t count) {
    if (file == InvalidFileHandle || file->seekFailed || SeamFailsWrite() || !PlacePointer(file)) return 0;
    DWORD done = 0;
    if (!WriteFile(file->handle, buffer, count, &done, nullptr)) {
        // As for reads, only the reported count matters.
    }
    if (seamWritten != nullptr && done != 0) seamWritten(file->position, buffer, done);
    file->position += done;
    file->systemPosition = file->position;
    return done;
}

void FileSeek(FileHandle file, int32_t distance, SeekOrigin origin) {
    if (file == InvalidFileHandle) return;
    if (origin == SeekOrigin::Begin || origin == SeekOrigin::Current) {
        // Positions are signed 32-bit; one that cannot be expressed fails
        // and leaves the position where it was, as a refused system seek does.
        const int64_t position = (origin == SeekOrigin::Begin ? 0 : file->position) + distance;
        file->seekFailed = position < 0 || position > LargestFilePosition;
        if (!file->seekFailed) file->position = position;
        return;
    }
    // From the end, or an origin the system itself must judge.
    static_assert(static_cast<DWORD>(SeekOrigin::End) == FILE_END, "origins are the move methods");
    const DWORD position = SetFilePointer(file->handle, distance, nullptr, static_cast<DWORD>(origin));
    // Without a high part, INVALID_SET_FILE_POINTER is the failure value;
    // positions past the largest one are not addressed by the scanner either.
    file->seekFailed = position == INVALID_SET_FILE_POINTER || position > LargestFilePosition;
    if (position != INVALID_SET_FILE_POINTER) file->systemPosition = position;
    if (!file->seekFailed) file->position = position;
}

bool FileGetSize(FileHandle file, uint32_t* size) {
    if (file == InvalidFileHandle) return false;
    DWORD high = 0;
    const DWORD low = GetFileSize(file->handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    if (high != 0 || low > LargestFilePosition) return false;
    *size = low;
    return true;
}

bool FileSizeAtOpen(FileHandle file, uint32_t* size) { return FileGetSize(file, size); }
