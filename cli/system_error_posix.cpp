#include <cerrno>
#include <cstring>

#include "cli/system_error.h"

int LastSystemError() { return errno; }

bool IsGoneError(int error) { return error == ENOENT; }

bool IsReplacedError(int error) { return error == ESTALE; }

std::string SystemErrorText(int error) { return std::strerror(error); }
