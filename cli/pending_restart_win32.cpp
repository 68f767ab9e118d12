// The NT family keeps its restart-time operations in the registry as pairs
// of NT paths (\??\C:\...), the 95/98/Me family as "target=source" lines of
// wininit.ini in short or long form. Names are compared ignoring the case of
// ASCII letters, as the program compares names everywhere. The registry's
// wide functions are looked up, not imported: the 95/98/Me family may lack
// them, and a missing import would keep the program from starting there.
#include <windows.h>

#include <string>
#include <vector>

#include "adapters/system_path_win32.h"
#include "cli/pending_restart.h"
#include "platform/family.h"

namespace {

// The part of a path that both spellings share: the verbatim form's and the
// NT form's prefixes go, and case does not count.
std::wstring Comparable(const wchar_t* path, size_t length) {
    static const wchar_t* const Prefixes[] = {L"\\\\?\\UNC\\", L"\\??\\UNC\\", L"\\\\?\\", L"\\??\\"};
    std::wstring text(path, length);
    for (const wchar_t* prefix : Prefixes) {
        const std::wstring head(prefix);
        if (text.compare(0, head.size(), head) == 0) {
            text.erase(0, head.size());
            if (head.find(L"UNC") != std::wstring::npos) text.insert(0, L"\\\\");
            break;
        }
    }
    for (wchar_t& unit : text) {
        if (unit >= L'a' && unit <= L'z') unit = static_cast<wchar_t>(unit - L'a' + L'A');
    }
    return text;
}

using OpenKeyW = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
using QueryValueW = LONG(WINAPI*)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);

// Typed through void(*)(), the one conversion between function pointer
// types that compilers accept without complaint.
template <typename Function>
Function Lookup(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

// The value's strings, each as a name to compare; empty when there is none.
std::vector<std::wstring> PendingNames(const wchar_t* value) {
    std::vector<std::wstring> names;
    const HMODULE advapi = LoadLibraryA("advapi32.dll");
    if (advapi == nullptr) return names;
    const auto openKey = Lookup<OpenKeyW>(advapi, "RegOpenKeyExW");
    const auto queryValue = Lookup<QueryValueW>(advapi, "RegQueryValueExW");
    HKEY key = nullptr;
    if (openKey == nullptr || queryValue == nullptr ||
        openKey(HKEY_LOCAL_MACHINE, L"SYSTEM\\CurrentControlSet\\Control\\Session Manager", 0, KEY_QUERY_VALUE, &key) !=
            ERROR_SUCCESS) {
        return names;
    }
    DWORD type = 0;
    DWORD size = 0;
    std::vector<wchar_t> data;
    LONG status = queryValue(key, value, nullptr, &type, nullptr, &size);
    if (status == ERROR_SUCCESS && type == REG_MULTI_SZ) {
        data.assign(size / sizeof(wchar_t) + 2, L'\0');
        status = queryValue(key, value, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &size);
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS || type != REG_MULTI_SZ) return names;
    // Ended by an empty string; the buffer holds two more zeros in any case.
    const size_t units = size / sizeof(wchar_t);
    for (size_t start = 0; start < units;) {
        size_t end = start;
        while (end < units && data[end] != L'\0') ++end;
        if (end > start) names.push_back(Comparable(data.data() + start, end - start));
        start = end + 1;
    }
    return names;
}

bool NamedOnNt(const char* path) {
    SystemPath wide;
    if (!ToVerbatimPath(path, &wide)) return false;
    const std::wstring own = Comparable(wide.text, wide.length);
    for (const wchar_t* value : {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"}) {
        for (const std::wstring& name : PendingNames(value)) {
            if (name == own) return true;
        }
    }
    return false;
}

std::string Upper(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

// WININIT.EXE reads short paths; an older entry may hold a long one.
bool NamedOn9x(const char* path) {
    std::vector<std::string> own = {Upper(path)};
    char shortPath[MAX_PATH];
    const DWORD length = GetShortPathNameA(path, shortPath, MAX_PATH);
    if (length != 0 && length < MAX_PATH) own.push_back(Upper(shortPath));
    std::vector<char> section(32767, '\0');
    const DWORD size = GetPrivateProfileSectionA("rename", section.data(), static_cast<DWORD>(section.size()), "wininit.ini");
    for (size_t start = 0; start < size;) {
        const std::string line = section.data() + start;
        start += line.size() + 1;
        if (line.empty()) break;
        const size_t equals = line.find('=');
        for (const std::string& side : {line.substr(0, equals), equals == std::string::npos ? std::string() : line.substr(equals + 1)}) {
            for (const std::string& name : own) {
                if (!side.empty() && Upper(side) == name) return true;
            }
        }
    }
    return false;
}

}  // namespace

bool NamedByPendingRestart(const char* path) { return IsNtFamily() ? NamedOnNt(path) : NamedOn9x(path); }
