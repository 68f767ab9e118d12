#include <windows.h>

#include <cstring>
#include <new>

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
