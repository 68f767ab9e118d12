// The system's error codes as the scanner reports them: errno on POSIX, the
// last Win32 error on Windows.
#pragma once

#include <string>

int LastSystemError();
// The path went away meanwhile: nothing is left to examine, so it is no error.
bool IsGoneError(int error);
// The file was swapped for another since it was listed.
bool IsReplacedError(int error);
std::string SystemErrorText(int error);
