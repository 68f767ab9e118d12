#ifdef _WIN32
#include "tests/resident_support.h"

#include <tlhelp32.h>

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>

#include "platform/seams.h"
#include "resident/library_lookup.h"
#include "resident/run_values.h"
#include "resident/seams.h"
#include "resident/sweep_messages.h"

namespace resident_test {

namespace {

std::vector<Box> recordedBoxes;

int WINAPI RecordBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    recordedBoxes.push_back(Box{text, caption, style, owner != nullptr});
    return IDOK;
}

std::string Backslashes(std::string path) {
    std::replace(path.begin(), path.end(), '/', '\\');
    return path;
}

// Long enough for a loaded machine; the idle helper ends by itself a few
// minutes later in any case.
constexpr DWORD ChildLimitMs = 60000;
constexpr DWORD NoStatus = 0xFFFFFFFFu;

}  // namespace

BoxRecorder::BoxRecorder() {
    recordedBoxes.clear();
    seamMessageBox = RecordBox;
}

BoxRecorder::~BoxRecorder() { seamMessageBox = MessageBoxA; }

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
    for (HANDLE process : processes_) {
        if (process == nullptr) continue;
        TerminateProcess(process, 0);  // fails harmlessly when it has ended
        WaitForSingleObject(process, ChildLimitMs);
        CloseHandle(process);
    }
    for (const std::string& file : files_) DeleteFileA(file.c_str());
}

size_t Children::Launch(const char* program, const std::string& path, const std::string& arguments) {
    PROCESS_INFORMATION info{};
    if (CopyFileA(Backslashes(program).c_str(), path.c_str(), FALSE)) {
        files_.push_back(path);
        std::string commandLine = "\"" + path + "\" " + arguments;
        STARTUPINFOA startup{};
        startup.cb = sizeof startup;
        if (CreateProcessA(path.c_str(), &commandLine[0], nullptr, nullptr, FALSE, CREATE_NO_WINDOW, nullptr, nullptr,
                           &startup, &info)) {
            CloseHandle(info.hThread);
        }
    }
    processes_.push_back(info.hProcess);
    ids_.push_back(info.dwProcessId);
    return processes_.size() - 1;
}

size_t Children::StartIdle(const std::string& path) {
    static unsigned serial = 0;
    const std::string event = "VelmoraIdle-" + std::to_string(GetCurrentProcessId()) + "-" + std::to_string(++serial);
    HANDLE ready = CreateEventA(nullptr, TRUE, FALSE, event.c_str());
    const size_t index = Launch(VELMORA_IDLE_CHILD, path, event);
    if (processes_[index] != nullptr) {
        HANDLE waits[2] = {ready, processes_[index]};
        WaitForMultipleObjects(2, waits, FALSE, ChildLimitMs);
    }
    CloseHandle(ready);
    return index;
}

DWORD Children::RunSweepChild(const std::string& path) { return WaitForEnd(Launch(VELMORA_SWEEP_CHILD, path, "")); }

DWORD Children::WaitForEnd(size_t index) const {
    DWORD status = NoStatus;
    if (processes_[index] == nullptr || WaitForSingleObject(processes_[index], ChildLimitMs) != WAIT_OBJECT_0 ||
        !GetExitCodeProcess(processes_[index], &status)) {
        return NoStatus;
    }
    return status;
}

bool Children::Running(size_t index) const {
    return processes_[index] != nullptr && WaitForSingleObject(processes_[index], 0) == WAIT_TIMEOUT;
}

bool Services::Create(const std::string& name, const std::string& displayName) {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    const std::string binary = "\"" + Backslashes(VELMORA_IDLE_CHILD) + "\"";
    SC_HANDLE service = manager == nullptr ? nullptr
                                           : CreateServiceA(manager, name.c_str(), displayName.c_str(),
                                                            SERVICE_ALL_ACCESS, SERVICE_WIN32_OWN_PROCESS,
                                                            SERVICE_DEMAND_START, SERVICE_ERROR_IGNORE, binary.c_str(),
                                                            nullptr, nullptr, nullptr, nullptr, nullptr);
    if (service != nullptr) names.push_back(name);
    if (service != nullptr) CloseServiceHandle(service);
    if (manager != nullptr) CloseServiceHandle(manager);
    return service != nullptr;
}

Services::~Services() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    for (const std::string& name : names) {
        SC_HANDLE service = manager == nullptr ? nullptr : OpenServiceA(manager, name.c_str(), DELETE);
        if (service == nullptr) continue;
        DeleteService(service);
        CloseServiceHandle(service);
    }
    if (manager != nullptr) CloseServiceHandle(manager);
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

namespace {

// The Run key for the guards' own use (wide names, so that a name outside
// the ANSI code page can be made); nullptr when it cannot be opened.
HKEY OpenRunKey() {
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_LOCAL_MACHINE, RunKeyPath, 0, nullptr, 0, KEY_ALL_ACCESS, nullptr, &key, nullptr) !=
        ERROR_SUCCESS) {
        return nullptr;
    }
    return key;
}

}  // namespace

bool RunValues::Add(const std::wstring& name) {
    static const wchar_t data[] = L"C:\\velmora-test.exe";
    HKEY key = OpenRunKey();
    if (key == nullptr) return false;
    const LONG result = RegSetValueExW(key, name.c_str(), 0, REG_SZ, reinterpret_cast<const BYTE*>(data), sizeof data);
    RegCloseKey(key);
    if (result == ERROR_SUCCESS) names.push_back(name);
    return result == ERROR_SUCCESS;
}

RunValues::~RunValues() {
    HKEY key = OpenRunKey();
    if (key == nullptr) return;
    for (const std::wstring& name : names) RegDeleteValueW(key, name.c_str());
    RegCloseKey(key);
}

bool RunValues::Exists(const std::wstring& name) {
    HKEY key = OpenRunKey();
    if (key == nullptr) return false;
    const LONG result = RegQueryValueExW(key, name.c_str(), nullptr, nullptr, nullptr, nullptr);
    RegCloseKey(key);
    return result == ERROR_SUCCESS;
}

namespace {

int runKeyOpenings = 0;
bool refuseRunKey = false;

LONG WINAPI CountRunKeyOpen(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key) {
    ++runKeyOpenings;
    return refuseRunKey ? ERROR_ACCESS_DENIED : RegOpenKeyExA(root, path, options, access, key);
}

}  // namespace

RunKeyOpenCounter::RunKeyOpenCounter(bool refuse) {
    runKeyOpenings = 0;
    refuseRunKey = refuse;
    seamRegOpenKey = CountRunKeyOpen;
}

RunKeyOpenCounter::~RunKeyOpenCounter() { seamRegOpenKey = RegOpenKeyExA; }

int RunKeyOpenCounter::count() const { return runKeyOpenings; }

namespace {

std::map<std::string, FARPROC> fakeFunctions;

FARPROC WINAPI FakeGetProcAddress(HMODULE module, LPCSTR name) {
    const auto fake = fakeFunctions.find(name);
    return fake != fakeFunctions.end() ? fake->second : GetProcAddress(module, name);
}

template <typename Function>
FARPROC Address(Function function) {
    return reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function));
}

size_t fakePosition = 0;

BOOL FakeWalk(PROCESSENTRY32* entry, size_t position) {
    ++FakeToolhelp::walks;
    if (entry->dwSize != sizeof *entry) FakeToolhelp::entrySizeWrong = true;
    fakePosition = position;
    if (position >= FakeToolhelp::processes.size()) return FALSE;
    const FakeProcess& process = FakeToolhelp::processes[position];
    entry->th32ProcessID = process.id;
    const size_t copied = process.path.copy(entry->szExeFile, sizeof entry->szExeFile);
    if (copied < sizeof entry->szExeFile) entry->szExeFile[copied] = '\0';
    return TRUE;
}

HANDLE WINAPI FakeCreateSnapshot(DWORD, DWORD) {
    ++FakeToolhelp::snapshots;
    return CreateEventA(nullptr, FALSE, FALSE, nullptr);
}

BOOL WINAPI FakeProcess32First(HANDLE, PROCESSENTRY32* entry) { return FakeWalk(entry, 0); }

BOOL WINAPI FakeProcess32Next(HANDLE, PROCESSENTRY32* entry) { return FakeWalk(entry, fakePosition + 1); }

BOOL WINAPI FakeEnumProcessIds(DWORD* ids, DWORD bufferSize, DWORD* bytesReturned) {
    ++FakeEnumProcesses::calls;
    FakeEnumProcesses::lastBufferSize = bufferSize;
    if (FakeEnumProcesses::fail) return FALSE;
    const DWORD fit = std::min<DWORD>(FakeEnumProcesses::count, bufferSize / sizeof(DWORD));
    const std::vector<DWORD>& real = FakeEnumProcesses::realIds;
    for (DWORD i = 0; i < fit; ++i) ids[i] = i < real.size() ? real[i] : FakeEnumProcesses::Id(i);
    *bytesReturned = (FakeEnumProcesses::overstate ? FakeEnumProcesses::count : fit) * DWORD{sizeof(DWORD)};
    return TRUE;
}

DWORD WINAPI FakeGetModuleFileNameEx(HANDLE, HMODULE, LPSTR name, DWORD size) {
    ++FakeModuleFileName::calls;
    std::string full = FakeModuleFileName::name;
    // The folder starts eight bytes before the end of the buffer.
    if (FakeModuleFileName::cutInFolder && size > 11) {
        full = "C:\\" + std::string(size - 11, 'd') + "\\winkfolder\\a.exe";
    }
    if (full.size() < size) {
        name[full.copy(name, size)] = '\0';
        return static_cast<DWORD>(full.size());
    }
    SetLastError(ERROR_INSUFFICIENT_BUFFER);
    if (FakeModuleFileName::olderSystem) return static_cast<DWORD>(full.copy(name, size));
    name[full.copy(name, size - 1)] = '\0';
    return size - 1;
}

}  // namespace

std::string FakeModuleFileName::name;
bool FakeModuleFileName::olderSystem = false;
bool FakeModuleFileName::cutInFolder = false;
int FakeModuleFileName::calls = 0;

void FakeModuleFileName::Reset(std::string fullName, bool older) {
    name = std::move(fullName);
    olderSystem = older;
    cutInFolder = false;
    calls = 0;
}

std::vector<FakeProcess> FakeToolhelp::processes;
int FakeToolhelp::snapshots = 0;
int FakeToolhelp::walks = 0;
bool FakeToolhelp::entrySizeWrong = false;

void FakeToolhelp::Reset(std::vector<FakeProcess> list) {
    processes = std::move(list);
    snapshots = walks = 0;
    entrySizeWrong = false;
}

DWORD FakeEnumProcesses::count = 0;
DWORD FakeEnumProcesses::lastBufferSize = 0;
bool FakeEnumProcesses::overstate = false;
bool FakeEnumProcesses::fail = false;
int FakeEnumProcesses::calls = 0;
std::vector<DWORD> FakeEnumProcesses::realIds;

void FakeEnumProcesses::Reset(DWORD processCount) {
    count = processCount;
    lastBufferSize = 0;
    overstate = fail = false;
    calls = 0;
    realIds.clear();
}

LookupFakes::LookupFakes() {
    fakeFunctions.clear();
    seamGetProcAddress = FakeGetProcAddress;
}

LookupFakes::~LookupFakes() { seamGetProcAddress = GetProcAddress; }

void LookupFakes::UseFakeToolhelp() {
    fakeFunctions["CreateToolhelp32Snapshot"] = Address(FakeCreateSnapshot);
    fakeFunctions["Process32First"] = Address(FakeProcess32First);
    fakeFunctions["Process32Next"] = Address(FakeProcess32Next);
}

void LookupFakes::UseFakeEnumProcesses() { fakeFunctions["EnumProcesses"] = Address(FakeEnumProcessIds); }

void LookupFakes::UseFakeModuleFileName() {
    fakeFunctions["GetModuleFileNameExA"] = Address(FakeGetModuleFileNameEx);
}

void LookupFakes::Remove(const char* name) { fakeFunctions[name] = nullptr; }

// The system's handle table (information class 16), counted for this
// process. The first failed assertion of a run costs a few handles, so a
// count is only meaningful while everything before it passed.
int OwnHandleCount() {
    struct Entry {
        ULONG processId;
        UCHAR objectType, flags;
        USHORT handle;
        PVOID object;
        ACCESS_MASK access;
    };
    struct Table {
        ULONG count;
        Entry entries[1];
    };
    using Query = LONG(WINAPI*)(ULONG, PVOID, ULONG, PULONG);
    const auto query = reinterpret_cast<Query>(
        reinterpret_cast<void (*)()>(GetProcAddress(GetModuleHandleA("ntdll.dll"), "NtQuerySystemInformation")));
    std::vector<unsigned char> buffer(1 << 20);
    ULONG length = 0;
    while (query(16, buffer.data(), static_cast<ULONG>(buffer.size()), &length) != 0) {
        if (buffer.size() > (64u << 20)) return -1;
        buffer.resize(buffer.size() * 2);
    }
    const auto* table = reinterpret_cast<const Table*>(buffer.data());
    return static_cast<int>(std::count_if(table->entries, table->entries + table->count,
                                          [](const Entry& e) { return e.processId == GetCurrentProcessId(); }));
}

bool DebugPrivilegeEnabled() {
    HANDLE token = nullptr;
    if (!OpenProcessToken(GetCurrentProcess(), TOKEN_QUERY, &token)) return false;
    PRIVILEGE_SET wanted{};
    wanted.PrivilegeCount = 1;
    wanted.Control = PRIVILEGE_SET_ALL_NECESSARY;
    LookupPrivilegeValueA(nullptr, "SeDebugPrivilege", &wanted.Privilege[0].Luid);
    BOOL enabled = FALSE;
    if (!PrivilegeCheck(token, &wanted, &enabled)) enabled = FALSE;
    CloseHandle(token);
    return enabled != FALSE;
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

std::string FileNamePart(const std::string& path) { return path.substr(path.rfind('\\') + 1); }

bool SameTextIgnoringCase(const std::string& a, const std::string& b) {
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               return std::tolower(static_cast<unsigned char>(x)) == std::tolower(static_cast<unsigned char>(y));
           });
}

}  // namespace resident_test

#endif  // _WIN32
