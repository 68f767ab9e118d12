// Windows: the dialog's walk through the shared path buffer and the
// platform's path functions.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "cli/front_end_cli.h"
#include "cli/starting_path.h"
#include "platform/text.h"
#include "scan/handle_file.h"
#include "scan/walk.h"
#include "scan/scan_state.h"

namespace {

// A starting path must be readable before anything is scanned, so that a
// typing error does not pass as a clean result.
bool Readable(const char* path, PathKind kind) {
    if (kind == PathFile) {
        FileHandle file = FileOpen(path, OpenMode::Read);
        if (file == InvalidFileHandle) return false;
        FileClose(file);
        return true;
    }
    if (kind != PathFolder) return false;
    char pattern[ObjectPathSize + 8];
    const size_t length = std::strlen(path);
    const bool hasSeparator = length > 0 && path[length - 1] == PathSeparator;
    const char separator[2] = {hasSeparator ? '\0' : PathSeparator, '\0'};
    std::snprintf(pattern, sizeof pattern, "%s%s*.*", path, separator);
    DirEntry entry;
    DirSearch* search = FindFirstEntry(pattern, &entry);
    if (search == nullptr) return false;
    FindCloseSearch(search);
    return true;
}

size_t WithoutSeparators(const char* path) {
    size_t length = std::strlen(path);
    // A drive's root keeps its separator: "C:" names the current folder of C.
    while (length > 1 && (path[length - 1] == '\\' || path[length - 1] == '/') && path[length - 2] != ':') --length;
    return length;
}

}  // namespace

bool OpenStartingPath(const char* path, StartingPath* start) {
    *start = StartingPath{path, path, PathMissing, -1, 0, 0};
    if (std::strlen(path) >= ObjectPathSize - 1) {
        ReportScanError(path, "path too long");
        return false;
    }
    start->kind = QueryPathKind(path);
    if (!Readable(path, start->kind)) {
        ReportScanError(path, "cannot read");
        return false;
    }
    return true;
}

// Names are compared as Windows does, ignoring case; the same folder given
// under two spellings (a short name, a drive mapping) is not recognised.
bool SameStartingPath(const StartingPath& a, const StartingPath& b) {
    const size_t length = WithoutSeparators(a.path);
    if (length != WithoutSeparators(b.path) || length >= ObjectPathSize) return false;
    char left[ObjectPathSize];
    char right[ObjectPathSize];
    std::memcpy(left, a.path, length);
    std::memcpy(right, b.path, length);
    left[length] = right[length] = '\0';
    return EqualsIgnoringCase(left, right);
}

void ScanStartingPath(StartingPath* start) {
    std::memcpy(CurrentObjectPath, start->path, std::strlen(start->path) + 1);
    if (start->kind == PathFolder) {
        WalkFolder();
    } else {
        HandleFile();
    }
}

void CloseStartingPath(StartingPath*) {}

void NoteUnopenedFile(const char* path) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND) return;
    char reason[64];
    std::snprintf(reason, sizeof reason, "cannot open the file (error %lu)", static_cast<unsigned long>(error));
    ReportScanError(path, reason);
}

// A drive root without any entry and a folder that went away meanwhile are
// no errors.
void NoteUnlistedFolder(const char* path) {
    const DWORD error = GetLastError();
    if (error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES) return;
    char reason[64];
    std::snprintf(reason, sizeof reason, "cannot list the folder (error %lu)", static_cast<unsigned long>(error));
    ReportScanError(path, reason);
}
