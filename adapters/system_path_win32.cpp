#include "adapters/system_path_win32.h"

#include <cstring>
#include <cwchar>

#include "platform/wtf8.h"

namespace {

bool IsVerbatim(const wchar_t* text, size_t length) {
    return length >= 4 && text[0] == L'\\' && text[1] == L'\\' && text[2] == L'?' && text[3] == L'\\';
}

bool Decode(const char* path, SystemPath* out) {
    if (path == nullptr) {
        SetLastError(ERROR_INVALID_NAME);
        return false;
    }
    const size_t length = std::strlen(path);
    const size_t needed = DecodeWtf8<wchar_t>(path, length, nullptr, NotWtf8, false);
    if (needed == NotWtf8 || needed >= SystemPathUnits) {
        SetLastError(needed == NotWtf8 ? ERROR_INVALID_NAME : ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const size_t units = DecodeWtf8(path, length, out->text, SystemPathUnits - 1, false);
    out->text[units] = L'\0';
    out->length = units;
    return true;
}

}  // namespace

bool ToVerbatimPath(const char* path, SystemPath* out) {
    if (!Decode(path, out)) return false;
    if (IsVerbatim(out->text, out->length)) return true;
    static_assert(SystemPathUnits <= 0xFFFFFFFFu, "a DWORD holds the size");
    // The full path goes behind the prefix, so the system's reading of the
    // given text (a relative path, "..", "/") happens once, here.
    SystemPath full;
    const DWORD units = GetFullPathNameW(out->text, static_cast<DWORD>(SystemPathUnits), full.text, nullptr);
    if (units == 0) return false;
    if (units >= SystemPathUnits) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    const wchar_t* rest = full.text;
    const wchar_t* prefix = L"\\\\?\\";
    if (units >= 2 && full.text[0] == L'\\' && full.text[1] == L'\\') {
        // A device path (\\.\) is left alone; a share takes the UNC form.
        if (units >= 4 && (full.text[2] == L'.' || full.text[2] == L'?') && full.text[3] == L'\\') {
            std::memcpy(out->text, full.text, (units + 1) * sizeof(wchar_t));
            out->length = units;
            return true;
        }
        rest = full.text + 2;
        prefix = L"\\\\?\\UNC\\";
    }
    const size_t prefixLength = std::wcslen(prefix);
    const size_t restLength = units - static_cast<size_t>(rest - full.text);
    if (prefixLength + restLength >= SystemPathUnits) {
        SetLastError(ERROR_FILENAME_EXCED_RANGE);
        return false;
    }
    std::memcpy(out->text, prefix, prefixLength * sizeof(wchar_t));
    std::memcpy(out->text + prefixLength, rest, (restLength + 1) * sizeof(wchar_t));
    out->length = prefixLength + restLength;
    return true;
}

bool ToSystemPath(const char* path, SystemPath* out) {
    if (!Decode(path, out)) return false;
    if (IsVerbatim(out->text, out->length) || out->length < MAX_PATH) return true;
    return ToVerbatimPath(path, out);
}
