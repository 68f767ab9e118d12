// Win32 file primitives: the access and share modes decide what other
// processes may do while the scanner holds a file, so they are exact.
#include <windows.h>

#include <new>

#include "engine/fault_seam.h"
#include "engine/file_io.h"

struct FileObject {
    HANDLE handle;
    bool seekFailed;
};

FileHandle FileOpen(const char* path, int mode) {
    if ((mode & 1) != 0 && seamBeforeWritableOpen != nullptr) seamBeforeWritableOpen(path);
    const DWORD access = (mode & 1) ? (GENERIC_READ | GENERIC_WRITE) : GENERIC_READ;
    HANDLE handle = CreateFileA(path, access, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
    if (handle == INVALID_HANDLE_VALUE) return InvalidFileHandle;
    auto* file = new (std::nothrow) FileObject{handle, false};
    if (file == nullptr) CloseHandle(handle);
    return file;
}

int FileClose(FileHandle file) {
    if (file == InvalidFileHandle) return 0;
    const BOOL ok = CloseHandle(file->handle);
    delete file;
    return ok ? 1 : 0;
}

uint32_t FileRead(FileHandle file, void* buffer, uint32_t count) {
    if (file == InvalidFileHandle || file->seekFailed) return 0;
    DWORD done = 0;
    if (!ReadFile(file->handle, buffer, count, &done, nullptr)) {
        // The count the system reports stands, success flag or not.
    }
    return done;
}

uint32_t FileWrite(FileHandle file, const void* buffer, uint32_t count) {
    if (file == InvalidFileHandle || file->seekFailed || SeamFailsWrite()) return 0;
    DWORD done = 0;
    if (!WriteFile(file->handle, buffer, count, &done, nullptr)) {
        // As for reads, only the reported count matters.
    }
    return done;
}

void FileSeek(FileHandle file, int32_t distance, int origin) {
    if (file == InvalidFileHandle) return;
    const DWORD position = SetFilePointer(file->handle, distance, nullptr, static_cast<DWORD>(origin));
    // Without a high part, INVALID_SET_FILE_POINTER is the failure value;
    // positions past 2 GiB - 1 are not addressed by the scanner either.
    file->seekFailed = position == INVALID_SET_FILE_POINTER || position > 0x7FFFFFFFu;
}

bool FileGetSize(FileHandle file, uint32_t* size) {
    if (file == InvalidFileHandle) return false;
    DWORD high = 0;
    const DWORD low = GetFileSize(file->handle, &high);
    if (low == INVALID_FILE_SIZE && GetLastError() != NO_ERROR) return false;
    if (high != 0 || low > 0x7FFFFFFFu) return false;
    *size = low;
    return true;
}
