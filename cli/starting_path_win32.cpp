// Windows: starting paths are checked by name, and scanned through the
// dialog's path buffer and the platform's path functions.
#include <windows.h>

#include <cstdio>
#include <cstring>

#include "cli/front_end_cli.h"
#include "cli/starting_path.h"
#include "cli/texts.h"
#include "platform/text.h"
#include "scan/handle_file.h"
#include "scan/scan_state.h"
#include "scan/walk.h"

namespace {

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
    std::snprintf(pattern, sizeof pattern, "%s%s*.*", path, hasSeparator ? "" : "\\");
    WIN32_FIND_DATAA data;
    HANDLE search = FindFirstFileA(pattern, &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
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
    *start = StartingPath{};
    start->entry = EntryForPath(path);
    if (std::strlen(path) >= ObjectPathSize - 1) {
        ReportScanError(path, StartTooLongText);
        return false;
    }
    start->kind = QueryPathKind(path);
    if (!Readable(path, start->kind)) {
        ReportScanError(path, CannotReadText);
        return false;
    }
    return true;
}

// Names are compared as Windows does, ignoring case; the same folder given
// under two spellings (a short name, a drive mapping) is not recognised.
bool SameStartingPath(const StartingPath& a, const StartingPath& b) {
    const size_t length = WithoutSeparators(a.entry.path);
    if (length != WithoutSeparators(b.entry.path) || length >= ObjectPathSize) return false;
    char left[ObjectPathSize];
    char right[ObjectPathSize];
    std::memcpy(left, a.entry.path, length);
    std::memcpy(right, b.entry.path, length);
    left[length] = right[length] = '\0';
    return EqualsIgnoringCase(left, right);
}

void ScanStartingPath(StartingPath* start) {
    if (start->kind == PathFolder) {
        WalkFolder(start->entry);
    } else {
        HandleFile(&start->entry);
    }
}

void CloseStartingPath(StartingPath*) {}
