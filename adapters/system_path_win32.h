// How a path that the program carries reaches the NT family's wide
// functions. On that family every path is WTF-8 text (platform/wtf8.h);
// here it becomes the system's UTF-16 again, exactly, without the code page.
#pragma once

#include <windows.h>

#include <cstddef>

// The longest path the wide functions take, in UTF-16 units with the
// terminating zero: the verbatim form's limit.
constexpr size_t SystemPathUnits = 32768;

struct SystemPath {
    wchar_t text[SystemPathUnits];
    size_t length;  // without the terminating zero
};

// The path as the wide functions take it. One in the verbatim form (\\?\) is
// taken as it stands, and so is one shorter than MAX_PATH, which the system
// then reads as it reads any path a person gives; a longer one becomes the
// verbatim form of its full path. False, with the last error set, when the
// text is no path (ERROR_INVALID_NAME) or too long (ERROR_FILENAME_EXCED_RANGE).
bool ToSystemPath(const char* path, SystemPath* out);
// Always the verbatim form of the full path: the start of a walk, to which
// listed names are then joined without the system reading them again (a
// name with a trailing dot or space, or one that reads as a device, would
// otherwise name another file).
bool ToVerbatimPath(const char* path, SystemPath* out);
