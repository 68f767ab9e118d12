// Windows: starting paths are checked by name, and scanned through the
// dialog's path buffer and the platform's path functions.
#include <windows.h>

#include <cstring>
#include <memory>
#include <string>

#include "adapters/system_path_win32.h"
#include "cli/messages.h"
#include "cli/starting_path.h"
#include "cli/texts.h"
#include "platform/family.h"
#include "platform/text.h"
#include "scan/handle_file.h"
#include "scan/scan_state.h"
#include "scan/walk.h"

namespace {

bool IsSeparator(unsigned unit) { return unit == '\\' || unit == '/'; }

// NT family: the folder is listed by its UTF-16 name, the pattern "<path>\*"
// made in the wide buffer. A pattern that would reach MAX_PATH takes the
// verbatim form, as the path alone would past it.
bool FolderListableWide(const char* path) {
    const auto system = std::make_unique<SystemPath>();
    if (!ToSystemPath(path, system.get())) return false;
    if (system->length + 2 >= MAX_PATH && !ToVerbatimPath(path, system.get())) return false;
    size_t length = system->length;
    if (length + 2 >= SystemPathUnits) return false;
    if (length == 0 || !IsSeparator(system->text[length - 1])) system->text[length++] = L'\\';
    system->text[length++] = L'*';
    system->text[length] = L'\0';
    WIN32_FIND_DATAW data;
    const HANDLE search = FindFirstFileW(system->text, &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

// 95/98/Me family: the path is the code page's text, as the A functions
// take it.
bool FolderListableAnsi(const char* path) {
    std::string pattern = path;
    if (pattern.empty() || !IsSeparator(static_cast<unsigned char>(pattern.back()))) pattern.push_back('\\');
    pattern.append("*.*");
    WIN32_FIND_DATAA data;
    const HANDLE search = FindFirstFileA(pattern.c_str(), &data);
    if (search == INVALID_HANDLE_VALUE) return false;
    FindClose(search);
    return true;
}

bool Readable(const char* path, PathKind kind) {
    if (kind == PathFile) {
        FileHandle file = FileOpen(path, OpenMode::Read);
        if (file == InvalidFileHandle) return false;
        FileClose(file);
        return true;
    }
    if (kind != PathFolder) return false;
    return IsNtFamily() ? FolderListableWide(path) : FolderListableAnsi(path);
}

size_t WithoutSeparators(const char* path) {
    size_t length = std::strlen(path);
    // A drive's root keeps its separator: "C:" names the current folder of C.
    while (length > 1 && (path[length - 1] == '\\' || path[length - 1] == '/') && path[length - 2] != ':') --length;
    return length;
}

}  // namespace

bool CheckStartingPath(const char* path, StartingPath* start) {
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

// Names are compared as Windows does, ignoring case, though only that of
// ASCII letters; the same folder given under two spellings (a short name, a
// drive mapping, a letter outside ASCII in another case) is not recognised.
bool SameStartingPath(const StartingPath& a, const StartingPath& b) {
    const size_t length = WithoutSeparators(a.entry.path);
    if (length != WithoutSeparators(b.entry.path) || length >= ObjectPathSize) return false;
    return EqualsIgnoringCase(std::string(a.entry.path, length).c_str(), std::string(b.entry.path, length).c_str());
}

void ScanStartingPath(StartingPath* start) {
    if (start->kind == PathFolder) {
        WalkFolder(start->entry);
    } else {
        HandleFile(&start->entry);
    }
}
