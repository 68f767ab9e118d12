// Windows: every step acts by path. On the NT family a path is WTF-8 and
// goes to the wide functions as the system's own UTF-16 (never through the
// code page, whose best fit turns names into other names); the 95/98/Me
// family has only the code-page functions, and its paths are that text.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "adapters/pending_operations_win32.h"
#include "adapters/seams.h"
#include "adapters/system_path_win32.h"
#include "scan/fs.h"

const char PathSeparator = '\\';

namespace {

DWORD Attributes(const char* path) {
    if (!IsNtFamily()) return GetFileAttributesA(path);
    SystemPath wide;
    return ToSystemPath(path, &wide) ? GetFileAttributesW(wide.text) : INVALID_FILE_ATTRIBUTES;
}

bool SetAttributes(const char* path, DWORD attributes) {
    if (!IsNtFamily()) return SetFileAttributesA(path, attributes) != 0;
    SystemPath wide;
    return ToSystemPath(path, &wide) && SetFileAttributesW(wide.text, attributes) != 0;
}

bool Delete(const char* path) {
    if (!IsNtFamily()) return DeleteFileA(path) != 0;
    SystemPath wide;
    return ToSystemPath(path, &wide) && DeleteFileW(wide.text) != 0;
}

// MoveFileExW with to null asks for a deletion.
bool MoveEx(const char* from, const char* to, DWORD flags) {
    SystemPath wideFrom;
    if (!ToSystemPath(from, &wideFrom)) return false;
    if (to == nullptr) return MoveFileExW(wideFrom.text, nullptr, flags) != 0;
    SystemPath wideTo;
    return ToSystemPath(to, &wideTo) && MoveFileExW(wideFrom.text, wideTo.text, flags) != 0;
}

// Fails when to exists.
bool Move(const char* from, const char* to) {
    if (!IsNtFamily()) return MoveFileA(from, to) != 0;
    SystemPath wideFrom;
    SystemPath wideTo;
    return ToSystemPath(from, &wideFrom) && ToSystemPath(to, &wideTo) && MoveFileW(wideFrom.text, wideTo.text) != 0;
}

// A restart-time request counts as made only once it is found where the
// system reads it as it starts: a system may accept a request and yet not
// keep it, and a cure reported for the restart must be one the restart
// carries out. Operations that cannot be read hold nothing.
bool NtRequestHeld(const char* from, const char* to) {
    if (seamRequestAccepted != nullptr) seamRequestAccepted();
    const auto wide = std::make_unique<SystemPath>();
    if (!ToVerbatimPath(from, wide.get())) return false;
    const std::wstring wantFrom = ComparableName(wide->text, wide->length);
    std::wstring wantTo;
    if (to != nullptr) {
        if (!ToVerbatimPath(to, wide.get())) return false;
        wantTo = ComparableName(wide->text, wide->length);
    }
    std::vector<PendingMove> moves;
    int error = 0;
    if (ReadPendingMoves(&moves, &error) != PendingRead::Read) return false;
    for (const PendingMove& move : moves) {
        if (move.from == wantFrom && move.to == wantTo) return true;
    }
    return false;
}

bool WininitRenameHeld(const char* shortTarget, const char* shortSource) {
    if (seamRequestAccepted != nullptr) seamRequestAccepted();
    const std::string target = UpperAscii(shortTarget);
    const std::string source = UpperAscii(shortSource);
    std::vector<WininitRename> renames;
    int error = 0;
    if (ReadWininitRenames(&renames, &error) != PendingRead::Read) return false;
    for (const WininitRename& rename : renames) {
        if (rename.target == target && rename.source == source) return true;
    }
    return false;
}

// WININIT.EXE runs before long names exist: it finds a file only by its
// short path. A path that has none cannot be handed to it.
bool ShortPath(const char* path, char (&out)[MAX_PATH]) {
    const DWORD length = GetShortPathNameA(path, out, MAX_PATH);
    return length != 0 && length < MAX_PATH;
}

}  // namespace

int HoldFolder(int) { return ByPath; }

void ReleaseFolder(int) {}

uint32_t LogicalDriveMask() { return GetLogicalDrives(); }

// Drive roots are plain letters: the code page spells them on every family.
bool IsFixedDrive(const char* root) { return GetDriveTypeA(root) == DRIVE_FIXED; }

PathKind QueryPathKind(const char* path) {
    const DWORD attributes = Attributes(path);
    if (attributes == INVALID_FILE_ATTRIBUTES) return PathMissing;
    return (attributes & FILE_ATTRIBUTE_DIRECTORY) ? PathFolder : PathFile;
}

// Every step acts by the path that reaches the file, and the read handle
// lets no writer in while the file is examined: there is no identity to
// keep. An entry that no name reaches cannot be opened.
FileHandle OpenHandledFile(HandledEntry* file, OpenMode mode) {
    if (file->name == nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return InvalidFileHandle;
    }
    return FileOpen(file->name, mode);
}

bool PinExaminedFile(HandledEntry*, FileHandle) { return true; }

bool ClearAttributes(const HandledEntry& file) {
    return file.name != nullptr && SetAttributes(file.name, FILE_ATTRIBUTE_NORMAL);
}

bool DeleteHandledFile(const HandledEntry& file) { return file.name != nullptr && Delete(file.name); }

bool PathExists(const char* path) { return Attributes(path) != INVALID_FILE_ATTRIBUTES; }

bool CopyFileNew(const char* from, const char* to) {
    if (!IsNtFamily()) return CopyFileA(from, to, TRUE) != 0;
    SystemPath wideFrom;
    SystemPath wideTo;
    return ToSystemPath(from, &wideFrom) && ToSystemPath(to, &wideTo) && CopyFileW(wideFrom.text, wideTo.text, TRUE) != 0;
}

bool DeletePath(const char* path) { return Delete(path); }

bool MovePath(const char* from, const char* to) { return Move(from, to); }

// The 95/98/Me family replaces nothing in a move: the target goes first.
bool ReplacePath(const char* from, const char* to) {
    if (IsNtFamily()) return MoveEx(from, to, MOVEFILE_REPLACE_EXISTING);
    const DWORD attributes = GetFileAttributesA(to);
    if (attributes != INVALID_FILE_ATTRIBUTES && !DeleteFileA(to)) return false;
    return MoveFileA(from, to) != 0;
}

bool MakePrivateFolder(const char* path) {
    bool made = false;
    if (IsNtFamily()) {
        SystemPath wide;
        made = ToSystemPath(path, &wide) && CreateDirectoryW(wide.text, nullptr) != 0;
    } else {
        made = CreateDirectoryA(path, nullptr) != 0;
    }
    if (made) return true;
    const DWORD attributes = Attributes(path);
    return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

// Only the NT family opens a folder as a file (to read its index); the
// 95/98/Me family cannot tell a folder's identity.
bool FolderIdentity(const char* path, uint64_t* device, uint64_t* inode) {
    if (!IsNtFamily()) return false;
    SystemPath wide;
    if (!ToSystemPath(path, &wide)) return false;
    HANDLE folder = CreateFileW(wide.text, 0, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING,
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

// The 95/98/Me family does not carry out delayed moves and reports failure;
// a family chosen by a test behaves the same way. True only when the
// request is then found among the system's pending operations.
bool ScheduleDelete(const char* path) {
    if (!IsNtFamily() || SeamFailsRequest()) return false;
    return MoveEx(path, nullptr, MOVEFILE_DELAY_UNTIL_REBOOT) && NtRequestHeld(path, nullptr);
}

bool ScheduleMove(const char* from, const char* to) {
    if (!IsNtFamily() || SeamFailsRequest()) return false;
    return MoveEx(from, to, MOVEFILE_DELAY_UNTIL_REBOOT) && NtRequestHeld(from, to);
}

// Only the 95/98/Me family reads wininit.ini: both sides of the entry are
// short paths, and a file that has none is not scheduled at all, so that
// nothing is reported as done at the restart that will not be. The 95/98/Me
// family keeps profile writes in memory until told to write them out: the
// entry goes to the disk before it is read back, so that it is there for a
// restart that follows a power cut too.
bool WriteWininitRename(const char* target, const char* source) {
    if (SeamFailsRequest()) return false;
    char shortTarget[MAX_PATH];
    char shortSource[MAX_PATH];
    if (!ShortPath(target, shortTarget) || !ShortPath(source, shortSource)) return false;
    if (WritePrivateProfileStringA("rename", shortTarget, shortSource, "wininit.ini") == 0) return false;
    WritePrivateProfileStringA(nullptr, nullptr, nullptr, "wininit.ini");
    return WininitRenameHeld(shortTarget, shortSource);
}
