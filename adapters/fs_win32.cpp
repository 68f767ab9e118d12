#include <windows.h>

#include <cstring>
#include <new>

#include "adapters/fault_seam.h"
#include "scan/fs.h"

const char PathSeparator = '\\';

struct DirSearch {
    HANDLE handle;
};

namespace {

void CopyEntry(const WIN32_FIND_DATAA& data, DirEntry* entry) {
    static_assert(sizeof data.cFileName <= EntryNameSize, "entry name buffer");
    std::memcpy(entry->name, data.cFileName, sizeof data.cFileName);
    entry->name[EntryNameSize - 1] = '\0';
    entry->isDirectory = (data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

}  // namespace

DirSearch* FindFirstEntry(const char* pattern, DirEntry* entry) {
    WIN32_FIND_DATAA data;
    HANDLE handle = FindFirstFileA(pattern, &data);
    if (handle == INVALID_HANDLE_VALUE) return nullptr;
    auto* search = new (std::nothrow) DirSearch{handle};
    if (search == nullptr) {
        FindClose(handle);
        return nullptr;
    }
    CopyEntry(data, entry);
    return search;
}

bool FindNextEntry(DirSearch* search, DirEntry* entry) {
    WIN32_FIND_DATAA data;
    if (!FindNextFileA(search->handle, &data)) return false;
    CopyEntry(data, entry);
    return true;
}

void FindCloseSearch(DirSearch* search) {
    if (search == nullptr) return;
    FindClose(search->handle);
    delete search;
}

uint32_t LogicalDriveMask() { return GetLogicalDrives(); }

bool IsFixedDrive(const char* root) { return GetDriveTypeA(root) == DRIVE_FIXED; }

PathKind QueryPathKind(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathFolder : PathFile;
}

FileHandle OpenHandledFile(const char* path, OpenMode mode) { return FileOpen(path, mode); }

// Every step opens by path here, and the read handle lets no writer in while
// the file is examined: there is no identity to keep.
bool PinExaminedFile(const char*, FileHandle) { return true; }

bool ClearAttributes(const char* path) { return SetFileAttributesA(path, FILE_ATTRIBUTE_NORMAL) != 0; }

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool CopyFileNew(const char* from, const char* to) { return CopyFileA(from, to, TRUE) != 0; }

bool DeletePath(const char* path) { return DeleteFileA(path) != 0; }

bool MovePath(const char* from, const char* to) { return MoveFileA(from, to) != 0; }

bool HasRestartOperations() { return true; }

bool ScheduleDelete(const char* path) {
    // The 95/98/Me family does not carry out MoveFileExA and reports
    // failure; a family chosen by a test behaves the same way.
    if (!IsNtFamily() || SeamFailsRequest()) return false;
    return MoveFileExA(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool ScheduleMove(const char* from, const char* to) {
    if (!IsNtFamily() || SeamFailsRequest()) return false;
    return MoveFileExA(from, to, MOVEFILE_DELAY_UNTIL_REBOOT) != 0;
}

bool WriteWininitRename(const char* target, const char* source) {
    if (SeamFailsRequest()) return false;
    return WritePrivateProfileStringA("rename", target, source, "wininit.ini") != 0;
}
