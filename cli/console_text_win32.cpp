// Windows: on the NT family a console is written in UTF-16, decoded from the
// program's WTF-8 text; a file, a pipe, and every stream on the 95/98/Me
// family get the bytes through the C runtime, as they always have.
#include <windows.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/console_text.h"
#include "platform/code_page.h"
#include "platform/family.h"
#include "platform/wtf8.h"

namespace {

// Consoles before Windows 8 refuse one write much longer than a few tens of
// thousands of units (the buffer they share with the process is small); a
// path may hold 32,767, so long text goes in pieces.
constexpr size_t ConsolePieceUnits = 8192;

struct StandardStream {
    bool known = false;
    HANDLE console = nullptr;  // null when the stream is no console
};

// The console behind stdout or stderr, or null. Asked once per stream: the
// standard handles do not change during a run.
HANDLE ConsoleOf(std::FILE* stream) {
    static StandardStream output;
    static StandardStream error;
    StandardStream* standard = nullptr;
    DWORD which = 0;
    if (stream == stdout) {
        standard = &output;
        which = STD_OUTPUT_HANDLE;
    } else if (stream == stderr) {
        standard = &error;
        which = STD_ERROR_HANDLE;
    } else {
        return nullptr;
    }
    if (!standard->known) {
        standard->known = true;
        const HANDLE handle = GetStdHandle(which);
        DWORD mode = 0;
        if (handle != nullptr && handle != INVALID_HANDLE_VALUE && GetConsoleMode(handle, &mode)) {
            standard->console = handle;
        }
    }
    return standard->console;
}

bool WriteBytes(std::FILE* stream, const char* text, size_t length) {
    return std::fwrite(text, 1, length, stream) == length && std::fflush(stream) == 0;
}

// The text is shown, not acted on: a faulty byte sequence becomes U+FFFD
// rather than hiding the rest of the line.
bool WriteToConsole(HANDLE console, std::FILE* stream, const char* text, size_t length) {
    // Whatever the C runtime still holds for this stream goes first.
    if (std::fflush(stream) != 0) return false;
    const size_t units = DecodeWtf8<wchar_t>(text, length, nullptr, NotWtf8, true);
    std::vector<wchar_t> wide(units);
    if (units > 0) DecodeWtf8(text, length, wide.data(), units, true);
    for (size_t done = 0; done < units;) {
        const size_t end = ConsolePieceEnd(wide.data() + done, units - done, ConsolePieceUnits);
        DWORD written = 0;
        if (!WriteConsoleW(console, wide.data() + done, static_cast<DWORD>(end), &written, nullptr) || written == 0) {
            errno = EIO;
            return false;
        }
        done += written;
    }
    return true;
}

}  // namespace

void AppendStatus(std::string* row, const char* status) {
    const size_t length = std::strlen(status);
    if (!IsNtFamily()) {
        std::string converted(2 * length + 1, '\0');
        if (ToCodePage(status, length, &converted[0], converted.size())) {
            row->append(converted.c_str());
            return;
        }
    }
    row->append(status, length);
}

bool WriteText(std::FILE* stream, const char* text, size_t length) {
    if (IsNtFamily()) {
        const HANDLE console = ConsoleOf(stream);
        if (console != nullptr) return WriteToConsole(console, stream, text, length);
    }
    return WriteBytes(stream, text, length);
}
