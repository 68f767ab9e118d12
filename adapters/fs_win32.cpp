#include <windows.h>

#include "adapters/seams.h"
#include "scan/fs.h"

const char PathSeparator = '\\';

uint32_t LogicalDriveMask() { return GetLogicalDrives(); }

bool IsFixedDrive(const char* root) { return GetDriveTypeA(root) == DRIVE_FIXED; }

PathKind QueryPathKind(const char* path) {
    const DWORD attributes = GetFileAttributesA(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathFolder : PathFile;
}

// Every step acts by path here, and the read handle lets no writer in while
// the file is examined: there is no identity to keep.
FileHandle OpenHandledFile(HandledEntry* file, OpenMode mode) { return FileOpen(file->path, mode); }

bool PinExaminedFile(HandledEntry*, FileHandle) { return true; }

bool ClearAttributes(const HandledEntry& file) { return SetFileAttributesA(file.path, FILE_ATTRIBUTE_NORMAL) != 0; }

bool DeleteHandledFile(const HandledEntry& file) { return DeleteFileA(file.path) != 0; }

bool PathExists(const char* path) { return GetFileAttributesA(path) != INVALID_FILE_ATTRIBUTES; }

bool CopyFileNew(const char* from, const char* to) { return CopyFileA(from, to, TRUE) != 0; }

bool DeletePath(const char* path) { return DeleteFileA(path) != 0; }

bool MovePath(const char* from, const char* to) { return MoveFileA(from, to) != 0; }

// The 95/98/Me family replaces nothing in a move: the target goes first.
bool ReplacePath(const char* from, const char* to) {
    if (IsNtFamily()) return MoveFileExA(from, to, MOVEFILE_REPLACE_EXISTING) != 0;
    const DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES && !DeleteFileA(to)) return false;
    return MoveFileA(from, to) != 0;
}

bool MakePrivateFolder(const char* path) {
    if (CreateDirectoryA(path, nullptr)) return true;
    const DWORD attributes = GetFileAttributesA(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Only the NT family opens a folder as a file (to read its index); the
// 95/98/Me family cannot tell a folder's identity.
bool FolderIdentity(const char* path, uint64_t* device, uint64_t* inode) {
    HANDLE folder = CreateFileA(path, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
                                FILE_FLAG_BACKUP_SEMANTICS, nullptr);
    if (folder == INVALID_HANDLE_VALUE) return false;
    BY_HANDLE_FILE_INFORMATION information;
    const bool ok = GetFileInformationByHandle(folder, &information) != 0;
    CloseHandle(folder);
    if (!ok) return false;
    *device = information.dwVolumeSerialNumber;
    *inode = static_cast<uint64_t>(information.nFileIndexHigh) << 32 | information.nFileIndexLow;
    return true;
}

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
