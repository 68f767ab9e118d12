#include "platform/code_page.h"

#include <windows.h>

#include <memory>
#include <new>

#include "platform/wtf8.h"

bool ToCodePage(const char* text, size_t length, char* out, size_t room) {
    if (length > 0x3FFFFFFF || room < 2 * length + 1) return false;
    // No byte gives more than one unit.
    std::unique_ptr<wchar_t[]> wide(new (std::nothrow) wchar_t[length + 1]);
    if (!wide) return false;
    const size_t units = DecodeWtf8(text, length, wide.get(), length + 1, true);
    if (units == NotWtf8) return false;
    if (units == 0) {
        out[0] = '\0';
        return true;
    }
    char unknown[] = "?";
    const int bytes = WideCharToMultiByte(CP_ACP, 0, wide.get(), static_cast<int>(units), out,
                                          static_cast<int>(room - 1), unknown, nullptr);
    if (bytes <= 0) return false;
    out[bytes] = '\0';
    return true;
}
