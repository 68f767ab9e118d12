// Lists the running processes, one at a time, as a process id and the path
// of the executable. The 95/98/Me family offers Toolhelp32 snapshots in the
// kernel library, the NT family the process functions of PSAPI.DLL; both are
// looked up at run time, so the program imports none of them and starts on
// systems that lack either.
#pragma once

#include <windows.h>
#include <tlhelp32.h>

class ProcessEnumerator {
public:
    // Delivers one process; 0 when the captured list is exhausted or nothing
    // could be listed, and then the outputs carry nothing. A path that cannot
    // be read whole (cut short by the system, or longer than length - 1 or
    // MAX_PATH - 1 characters) is delivered empty, never cut.
    virtual int next(DWORD* processId, char* path, DWORD length) = 0;
    // Positions before the first process of the captured list; always 1.
    virtual int rewind() = 0;
    // Captures the processes running now; nonzero on success.
    virtual int takeSnapshot() = 0;
    virtual ~ProcessEnumerator() = default;
};

// The 95/98/Me family.
class ToolhelpProcessEnumerator : public ProcessEnumerator {
public:
    ToolhelpProcessEnumerator();
    ~ToolhelpProcessEnumerator() override;
    ToolhelpProcessEnumerator(const ToolhelpProcessEnumerator&) = delete;
    ToolhelpProcessEnumerator& operator=(const ToolhelpProcessEnumerator&) = delete;

    int next(DWORD* processId, char* path, DWORD length) override;
    int rewind() override;
    int takeSnapshot() override;
    // Only with its library and all three functions; otherwise it lists nothing.
    bool usable() const { return createSnapshot != nullptr && firstProcess != nullptr && nextProcess != nullptr; }
    bool hasSnapshot() const { return snapshot != INVALID_HANDLE_VALUE && snapshot != nullptr; }

private:
    using CreateSnapshotFunction = HANDLE(WINAPI*)(DWORD, DWORD);
    using ProcessWalkFunction = BOOL(WINAPI*)(HANDLE, PROCESSENTRY32*);

    HMODULE module = nullptr;
    HANDLE snapshot = INVALID_HANDLE_VALUE;
    PROCESSENTRY32 entry{};
    CreateSnapshotFunction createSnapshot = nullptr;
    ProcessWalkFunction firstProcess = nullptr;
    ProcessWalkFunction nextProcess = nullptr;
    int ownsModule = 0;
    int hasEntry = 0;
};

// The NT family.
class PsapiProcessEnumerator : public ProcessEnumerator {
public:
    static constexpr DWORD MaxProcesses = 512;
    static constexpr DWORD MaxModules = 64;

    PsapiProcessEnumerator();
    ~PsapiProcessEnumerator() override;
    PsapiProcessEnumerator(const PsapiProcessEnumerator&) = delete;
    PsapiProcessEnumerator& operator=(const PsapiProcessEnumerator&) = delete;

    int next(DWORD* processId, char* path, DWORD length) override;
    int rewind() override;
    int takeSnapshot() override;
    bool usable() const {
        return enumProcesses != nullptr && getModuleFileNameEx != nullptr && enumProcessModules != nullptr;
    }

private:
    using EnumProcessesFunction = BOOL(WINAPI*)(DWORD*, DWORD, DWORD*);
    using GetModuleFileNameExFunction = DWORD(WINAPI*)(HANDLE, HMODULE, LPSTR, DWORD);
    using EnumProcessModulesFunction = BOOL(WINAPI*)(HANDLE, HMODULE*, DWORD, DWORD*);

    void ReadPath(DWORD processId, char* path, DWORD length) const;

    HMODULE module = nullptr;
    EnumProcessesFunction enumProcesses = nullptr;
    GetModuleFileNameExFunction getModuleFileNameEx = nullptr;
    EnumProcessModulesFunction enumProcessModules = nullptr;
    DWORD processIds[MaxProcesses] = {};
    DWORD processCount = 0;
    DWORD position = 0;
};

// The enumerator of a GetVersionExA platform id: 1 (the 95/98/Me family)
// Toolhelp, 2 (NT) PSAPI, anything else none. nullptr also when there is no
// memory. The caller deletes the result.
ProcessEnumerator* NewProcessEnumerator(DWORD platformId);
