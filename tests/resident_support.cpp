#ifdef _WIN32
#include "tests/resident_support.h"

#include <algorithm>
#include <cctype>
#include <filesystem>

#include <tlhelp32.h>

#include "resident/library_lookup.h"
#include "resident/run_values.h"
#include "resident/sweep_messages.h"

namespace resident_test {

namespace {

std::vector<Box> recordedBoxes;

int WINAPI RecordBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    recordedBoxes.push_back(Box{text != nullptr ? text : "", caption != nullptr ? caption : "", style, owner != nullptr});
    return IDOK;
}

std::string Backslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

std::wstring Widen(const std::string& text) { return std::wstring(text.begin(), text.end()); }

// A child that never reports ready is given up on after this long; the
// helper ends by itself a few minutes later in any case.
constexpr DWORD ChildStartLimitMs = 60000;
constexpr DWORD ChildEndLimitMs = 60000;

}  // namespace

BoxRecorder::BoxRecorder() {
    recordedBoxes.clear();
    residentMessageBox = RecordBox;
}

BoxRecorder::~BoxRecorder() {
    residentMessageBox = MessageBoxA;
    recordedBoxes.clear();
}

const std::vector<Box>& BoxRecorder::boxes() const { return recordedBoxes; }

std::vector<std::string> BoxRecorder::texts() const {
    std::vector<std::string> texts;
    for (const Box& box : recordedBoxes) texts.push_back(box.text);
    return texts;
}

ScratchFolder::ScratchFolder() {
    static unsigned serial = 0;
    root_ = Backslashes(std::string(VELMORA_TEST_BINARY_DIR) + "/resident-" + std::to_string(GetCurrentProcessId()) +
                        "-" + std::to_string(++serial));
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
    std::filesystem::create_directories(root_, ignored);
}

ScratchFolder::~ScratchFolder() {
    std::error_code ignored;
    std::filesystem::remove_all(root_, ignored);
}

std::string ScratchFolder::Path(const std::string& relative) const {
    const std::string path = root_ + "\\" + relative;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    return path;
}

Children::~Children() {
    for (size_t i = 0; i < processes_.size(); ++i) {
        if (processes_[i] == nullptr) continue;
        if (WaitForSingleObject(processes_[i], 0) == WAIT_TIMEOUT) TerminateProcess(processes_[i], 0);
        WaitForSingleObject(processes_[i], ChildEndLimitMs);
        CloseHandle(processes_[i]);
    }
    for (const std::string& file : files_) DeleteFileA(file.c_str());
}

size_t Children::StartIdle(const std::string& path) {
    static unsigned serial = 0;
    const std::string eventName =
        "VelmoraIdleReady-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, eventName.c_str());
    HANDLE process = nullptr;
    DWORD id = 0;
    if (ready != nullptr && CopyFileA(Backslashes(VELMORA_IDLE_CHILD).c_str(), path.c_str(), FALSE)) {
        files_.push_back(path);
        std::string commandLine = "\"" + path + "\" " + eventName;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        PROCESS_INFORMATION info{};
        if (CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                           &startup, &info)) {
            CloseHandle(info.hThread);
            process = info.hProcess;
            id = info.dwProcessId;
            HANDLE waits[2] = {ready, process};
            WaitForMultipleObjects(2, waits, FALSE, ChildStartLimitMs);
        }
    }
    if (ready != nullptr) CloseHandle(ready);
    processes_.push_back(process);
    ids_.push_back(id);
    return processes_.size() - 1;
}

DWORD Children::RunSweepChild(const std::string& path) {
    if (!CopyFileA(Backslashes(VELMORA_SWEEP_CHILD).c_str(), path.c_str(), FALSE)) return 0xFFFFFFFFu;
    files_.push_back(path);
    std::string commandLine = "\"" + path + "\"";
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION info{};
    if (!CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                        &startup, &info)) {
        return 0xFFFFFFFFu;
    }
    CloseHandle(info.hThread);
    processes_.push_back(info.hProcess);
    ids_.push_back(info.dwProcessId);
    return WaitForEnd(processes_.size() - 1);
}

DWORD Children::WaitForEnd(size_t index) const {
    if (processes_[index] == nullptr) return 0xFFFFFFFFu;
    WaitForSingleObject(processes_[index], ChildEndLimitMs);
    DWORD status = 0xFFFFFFFFu;
    GetExitCodeProcess(processes_[index], &status);
    return status;
}

bool Children::Running(size_t index) const {
    return processes_[index] != nullptr && WaitForSingleObject(processes_[index], 0) == WAIT_TIMEOUT;
}

bool Services::Create(const std::string& name, const std::string& displayName) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return false;
    const std::string binary = "\"" + Backslashes(VELMORA_IDLE_CHILD) + "\"";
    SC_HANDLE service = CreateServiceA(manager, name.c_str(), displayName.c_str(), SERVICE_ALL_ACCESS,
                                       SERVICE_WIN32_OWN_PROCESS, SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE,
                                       binary.c_str(), nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service != nullptr) {
        names_.push_back(name);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
    return service != nullptr;
}

Services::~Services() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return;
    for (const std::string& name : names_) {
        SC_HANDLE service = OpenServiceA(manager, name.c_str(), DELETE);
        if (service == nullptr) continue;
        DeleteService(service);
        CloseServiceHandle(service);
    }
    CloseServiceHandle(manager);
}

DWORD Services::Lookup(const std::string& name) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_CONNECT);
    if (manager == nullptr) return GetLastError();
    SC_HANDLE service = OpenServiceA(manager, name.c_str(), SERVICE_QUERY_STATUS);
    const DWORD result = service != nullptr ? ERROR_SUCCESS : GetLastError();
    if (service != nullptr) CloseServiceHandle(service);
    CloseServiceHandle(manager);
    return result;
}

bool RunValues::Add(const std::string& name) { return AddWide(Widen(name)); }

bool RunValues::AddWide(const std::wstring& name) {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return false;
    }
    static const wchar_t data[] = L"C:\\velmora-test.exe";
    const LONG result =
        RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS) names_.push_back(name);
    return result == ERROR_SUCCESS;
}

RunValues::~RunValues() {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) return;
    for (const std::wstring& name : names_) RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
}

bool RunValues::Exists(const std::string& name) { return ExistsWide(Widen(name)); }

bool RunValues::ExistsWide(const std::wstring& name) {
    HKEY key = nullptr;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, KEY_READ, &key) != ERROR_SUCCESS) return false;
    const LONG result = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

namespace {

int runKeyOpenings = 0;
bool refuseRunKey = false;

LONG WINAPI CountRunKeyOpen(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    ++runKeyOpenings;
    if (refuseRunKey) return ERROR_ACCESS_DENIED;
    return RegOpenKeyExA(root, path, options, access, key);
}

}  // namespace

RunKeyOpenCounter::RunKeyOpenCounter(bool refuse) {
    runKeyOpenings = 0;
    refuseRunKey = refuse;
    residentRegOpenKey = CountRunKeyOpen;
}

RunKeyOpenCounter::~RunKeyOpenCounter() {
    residentRegOpenKey = RegOpenKeyExA;
    refuseRunKey = false;
}

int RunKeyOpenCounter::count() const { return runKeyOpenings; }

namespace {

std::map<std::string, FARPROC> fakeFunctions;

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    const auto fake = fakeFunctions.find(name);
    if (fake != fakeFunctions.end()) return fake->second;
    return GetProcAddress(module, name);
}

size_t fakePosition = 0;

void FillEntry(PROCESSENTRY32* entry) {
    const FakeProcess& process = FakeToolhelp::processes[fakePosition];
    entry->th32ProcessID = process.id;
    const size_t length = std::min(process.path.size(), sizeof entry->szExeFile - 1);
    process.path.copy(entry->szExeFile, length);
    entry->szExeFile[length] = '\0';
}

HANDLE WINAPI FakeCreateSnapshot(DWORD, DWORD) {
    ++FakeToolhelp::snapshots;
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

BOOL WINAPI FakeProcess32First(HANDLE, PROCESSENTRY32* entry) {
    ++FakeToolhelp::walks;
    if (entry->dwSize != sizeof *entry) FakeToolhelp::entrySizeWrong = true;
    fakePosition = 0;
    if (FakeToolhelp::processes.empty()) return FALSE;
    FillEntry(entry);
    return TRUE;
}

BOOL WINAPI FakeProcess32Next(HANDLE, PROCESSENTRY32* entry) {
    ++FakeToolhelp::walks;
    if (entry->dwSize != sizeof *entry) FakeToolhelp::entrySizeWrong = true;
    if (fakePosition + 1 >= FakeToolhelp::processes.size()) return FALSE;
    ++fakePosition;
    FillEntry(entry);
    return TRUE;
}

BOOL WINAPI FakeEnumProcessIds(DWORD* ids, DWORD bufferSize, DWORD* bytesReturned) {
    ++FakeEnumProcesses::calls;
    FakeEnumProcesses::lastBufferSize = bufferSize;
    if (FakeEnumProcesses::fail) return FALSE;
    const DWORD fit = std::min<DWORD>(FakeEnumProcesses::count, bufferSize / sizeof(DWORD));
    for (DWORD i = 0; i < fit; ++i) ids[i] = FakeEnumProcesses::Id(i);
    *bytesReturned = static_cast<DWORD>((FakeEnumProcesses::overstate ? FakeEnumProcesses::count : fit) * sizeof(DWORD));
    return TRUE;
}

}  // namespace

std::vector<FakeProcess> FakeToolhelp::processes;
int FakeToolhelp::snapshots = 0;
int FakeToolhelp::walks = 0;
bool FakeToolhelp::entrySizeWrong = false;

void FakeToolhelp::Reset(std::vector<FakeProcess> list) {
    processes = std::move(list);
    snapshots = 0;
    walks = 0;
    entrySizeWrong = false;
}

DWORD FakeEnumProcesses::count = 0;
bool FakeEnumProcesses::overstate = false;
bool FakeEnumProcesses::fail = false;
int FakeEnumProcesses::calls = 0;
DWORD FakeEnumProcesses::lastBufferSize = 0;

void FakeEnumProcesses::Reset(DWORD processCount) {
    count = processCount;
    overstate = false;
    fail = false;
    calls = 0;
    lastBufferSize = 0;
}

LookupFakes::LookupFakes() {
    fakeFunctions.clear();
    residentGetProcAddress = FakeGetProcAddress;
}

LookupFakes::~LookupFakes() {
    residentGetProcAddress = GetProcAddress;
    fakeFunctions.clear();
}

void LookupFakes::ReplaceAddress(const char* name, FARPROC function) { fakeFunctions[name] = function; }

void LookupFakes::UseFakeToolhelp() {
    Replace("CreateToolhelp32Snapshot", FakeCreateSnapshot);
    Replace("Process32First", FakeProcess32First);
    Replace("Process32Next", FakeProcess32Next);
}

void LookupFakes::UseFakeEnumProcesses() { Replace("EnumProcesses", FakeEnumProcessIds); }

namespace {

// The layout of the system's handle table (information class 16).
struct HandleEntry {
    ULONG processId;
    UCHAR objectType;
    UCHAR flags;
    USHORT handle;
    PVOID object;
    ACCESS_MASK access;
};
struct HandleTable {
    ULONG count;
    HandleEntry entries[1];
};
using QuerySystemInformation = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);

}  // namespace

int OwnHandleCount() {
    auto query = reinterpret_cast<QuerySystemInformation>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    if (query == nullptr) return -1;
    std::vector<unsigned char> buffer(1 << 20);
    for (;;) {
        ULONG length = 0;
        const LONG status = query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &length);
        if (status == 0) break;
        if (static_cast<ULONG>(status) != 0xC0000004u || buffer.size() > (64u << 20)) return -1;
        buffer.resize(buffer.size() * 2);
    }
    const auto* table = reinterpret_cast<const HandleTable*>(buffer.data());
    int count = 0;
    for (ULONG i = 0; i < table->count; ++i) {
        if (table->entries[i].processId == GetCurrentProcessId()) ++count;
    }
    return count;
}

bool DebugPrivilegeEnabled() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    LUID debug{};
    LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &debug);
    DWORD size = 0;
    GetTokenInformation(token, TokenPrivileges, nullptr, 0, &size);
    std::vector<unsigned char> buffer(size + sizeof(TOKEN_PRIVILEGES));
    bool enabled = false;
    if (GetTokenInformation(token, TokenPrivileges, buffer.data(), static_cast<DWORD>(buffer.size()), &size)) {
        const auto* privileges = reinterpret_cast<const TOKEN_PRIVILEGES*>(buffer.data());
        for (DWORD i = 0; i < privileges->PrivilegeCount; ++i) {
            const LUID& luid = privileges->Privileges[i].Luid;
            if (luid.LowPart == debug.LowPart && luid.HighPart == debug.HighPart) {
                enabled = (privileges->Privileges[i].Attributes & SE_PRIVILEGE_ENABLED) != 0;
            }
        }
    }
    CloseHandle(token);
    return enabled;
}

void SetDebugPrivilege(bool enabled) {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_ADJUST_PRIVILEGES, &token)) return;
    TOKEN_PRIVILEGES privileges{};
    privileges.PrivilegeCount = 1;
    LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &privileges.Privileges[0].Luid);
    privileges.Privileges[0].Attributes = enabled ? SE_PRIVILEGE_ENABLED : 0;
    AdjustTokenPrivileges(token, FALSE, &privileges, 0, nullptr, nullptr);
    CloseHandle(token);
}

std::string OwnPath() {
    char path[MAX_PATH] = "";
    GetModuleFileNameA(nullptr, path, sizeof path);
    return path;
}

std::string FileNamePart(const std::string& path) {
    const size_t backslash = path.rfind('\\');
    return backslash == std::string::npos ? path : path.substr(backslash + 1);
}

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace resident_test

#endif  // _WIN32
