#include <windows.h>

#include <cstdio>

#include "cli/system_error.h"

int LastSystemError() { return static_cast<int>(GetLastError()); }

// An empty drive root lists nothing at all, which is no error either.
bool IsGoneError(int error) {
    return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND || error == ERROR_NO_MORE_FILES;
}

bool IsReplacedError(int) { return false; }

std::string SystemErrorText(int error) {
    char text[24];
    std::snprintf(text, sizeof text, "error %lu", static_cast<unsigned long>(error));
    return text;
}
