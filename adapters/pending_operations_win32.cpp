// The registry's wide functions are looked up, not imported: the 95/98/Me
// family may lack them, and a missing import would keep the program from
// starting there.
#include <windows.h>

#include "adapters/pending_operations_win32.h"

void (*seamRequestAccepted)();

namespace {

const wchar_t SessionManager[] = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* const PendingValues[] = {L"PendingFileRenameOperations", L"PendingFileRenameOperations2"};

// Far more than any system keeps; a larger value is not taken on trust.
constexpr DWORD MaxValueBytes = 16u << 20;
// The value may grow between asking for its size and reading it, when
// another program asks for an operation at that moment.
constexpr int ReadAttempts = 4;

using OpenKeyW = LONG(WINAPI*)(HKEY, LPCWSTR, DWORD, REGSAM, PHKEY);
using QueryValueW = LONG(WINAPI*)(HKEY, LPCWSTR, LPDWORD, LPDWORD, LPBYTE, LPDWORD);

// Typed through void(*)(), the one conversion between function pointer
// types that compilers accept without complaint.
template <typename Function>
Function Lookup(HMODULE library, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(GetProcAddress(library, name)));
}

struct Registry {
    OpenKeyW openKey = nullptr;
    QueryValueW queryValue = nullptr;
};

const Registry& RegistryFunctions() {
    static const Registry functions = [] {
        Registry found;
        const HMODULE advapi = LoadLibraryA("advapi32.dll");
        if (advapi != nullptr) {
            found.openKey = Lookup<OpenKeyW>(advapi, "RegOpenKeyExW");
            found.queryValue = Lookup<QueryValueW>(advapi, "RegQueryValueExW");
        }
        return found;
    }();
    return functions;
}

// ERROR_SUCCESS with the value's operations appended, ERROR_FILE_NOT_FOUND
// when there is no such value, or why it could not be read.
LONG ReadValue(QueryValueW queryValue, HKEY key, const wchar_t* name, std::vector<PendingMove>* moves) {
    for (int attempt = 0; attempt < ReadAttempts; ++attempt) {
        DWORD type = 0;
        DWORD size = 0;
        LONG status = queryValue(key, name, nullptr, &type, nullptr, &size);
        if (status != ERROR_SUCCESS) return status;
        if (type != REG_MULTI_SZ || size > MaxValueBytes) return ERROR_INVALID_DATA;
        // One unit more than asked for, so that an odd size still fits.
        std::vector<wchar_t> data(size / sizeof(wchar_t) + 1, L'\0');
        DWORD got = static_cast<DWORD>(data.size() * sizeof(wchar_t));
        status = queryValue(key, name, nullptr, &type, reinterpret_cast<BYTE*>(data.data()), &got);
        if (status == ERROR_MORE_DATA) continue;
        if (status != ERROR_SUCCESS) return status;
        if (type != REG_MULTI_SZ) return ERROR_INVALID_DATA;
        ParsePendingMoves(data.data(), got / sizeof(wchar_t), moves);
        return ERROR_SUCCESS;
    }
    return ERROR_MORE_DATA;
}

// WININIT.INI in the Windows folder, where the profile functions find
// "wininit.ini"; false when the folder cannot be told.
bool WininitPath(std::string* path) {
    char folder[MAX_PATH];
    const UINT length = GetWindowsDirectoryA(folder, MAX_PATH);
    if (length == 0 || length >= MAX_PATH) return false;
    path->assign(folder, length);
    if (path->back() != '\\') path->push_back('\\');
    path->append("WININIT.INI");
    return true;
}

enum class Wininit { Absent, Readable, Unreadable };

// Whether there is a wininit.ini, and whether it can be opened for reading.
Wininit CheckWininit(int* error) {
    std::string path;
    if (!WininitPath(&path)) {
        *error = static_cast<int>(GetLastError());
        return Wininit::Unreadable;
    }
    const DWORD attributes = GetFileAttributesA(path.c_str());
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD reason = GetLastError();
        if (reason == ERROR_FILE_NOT_FOUND || reason == ERROR_PATH_NOT_FOUND) return Wininit::Absent;
        *error = static_cast<int>(reason);
        return Wininit::Unreadable;
    }
    if (attributes & FILE_ATTRIBUTE_DIRECTORY) {
        *error = ERROR_ACCESS_DENIED;
        return Wininit::Unreadable;
    }
    const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                    OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
        const DWORD reason = GetLastError();
        if (reason == ERROR_FILE_NOT_FOUND) return Wininit::Absent;  // gone in the meantime
        *error = static_cast<int>(reason);
        return Wininit::Unreadable;
    }
    CloseHandle(file);
    return Wininit::Readable;
}

}  // namespace

std::wstring ComparableName(const wchar_t* path, size_t length) {
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

void ParsePendingMoves(const wchar_t* data, size_t units, std::vector<PendingMove>* moves) {
    std::vector<std::wstring> names;
    for (size_t start = 0; start < units;) {
        size_t end = start;
        while (end < units && data[end] != L'\0') ++end;
        names.push_back(ComparableName(data + start, end - start));
        start = end + 1;
    }
    // The list's own terminator reads as one more, empty, string.
    if (names.size() % 2 == 1 && names.back().empty()) names.pop_back();
    // A source without its target is kept as a deletion: it still names
    // the file.
    for (size_t i = 0; i < names.size(); i += 2) {
        moves->push_back(PendingMove{names[i], i + 1 < names.size() ? names[i + 1] : std::wstring()});
    }
}

PendingRead ReadPendingMoves(std::vector<PendingMove>* moves, int* error) {
    const Registry& registry = RegistryFunctions();
    if (registry.openKey == nullptr || registry.queryValue == nullptr) {
        *error = ERROR_PROC_NOT_FOUND;
        return PendingRead::Unreadable;
    }
    HKEY key = nullptr;
    LONG status = registry.openKey(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_QUERY_VALUE, &key);
    if (status != ERROR_SUCCESS) {
        *error = static_cast<int>(status);
        return PendingRead::Unreadable;
    }
    for (const wchar_t* value : PendingValues) {
        status = ReadValue(registry.queryValue, key, value, moves);
        if (status != ERROR_SUCCESS && status != ERROR_FILE_NOT_FOUND) break;
        status = ERROR_SUCCESS;
    }
    RegCloseKey(key);
    if (status != ERROR_SUCCESS) {
        *error = static_cast<int>(status);
        return PendingRead::Unreadable;
    }
    return PendingRead::Read;
}

std::string UpperAscii(std::string text) {
    for (char& c : text) {
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    }
    return text;
}

PendingRead ReadWininitRenames(std::vector<WininitRename>* renames, int* error) {
    switch (CheckWininit(error)) {
        case Wininit::Absent: return PendingRead::Read;
        case Wininit::Unreadable: return PendingRead::Unreadable;
        case Wininit::Readable: break;
    }
    // The profile functions' limit for a section on the 95/98/Me family.
    constexpr DWORD SectionBytes = 32767;
    std::vector<char> section(SectionBytes, '\0');
    const DWORD size = GetPrivateProfileSectionA("rename", section.data(), SectionBytes, "wininit.ini");
    if (size >= SectionBytes - 2) {  // cut short: the lines past the cut are unknown
        *error = ERROR_MORE_DATA;
        return PendingRead::Unreadable;
    }
    for (size_t start = 0; start < size;) {
        const std::string line = section.data() + start;
        start += line.size() + 1;
        if (line.empty()) break;
        const size_t equals = line.find('=');
        const std::string source = equals == std::string::npos ? std::string() : line.substr(equals + 1);
        renames->push_back(WininitRename{UpperAscii(line.substr(0, equals)), UpperAscii(source)});
    }
    return PendingRead::Read;
}
