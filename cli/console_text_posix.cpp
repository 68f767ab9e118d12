// POSIX: names are bytes and a terminal takes them as they are.
#include <cstdio>

#include "cli/console_text.h"

void AppendStatus(std::string* row, const char* status) { row->append(status); }

bool WriteText(std::FILE* stream, const char* text, size_t length) {
    return std::fwrite(text, 1, length, stream) == length && std::fflush(stream) == 0;
}
