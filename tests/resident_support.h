// Shared pieces of the resident sweep's tests: boxes recorded instead of
// shown, copies of the idle helper started under chosen names, and guards
// that remove every process, service and startup value a test creates, even
// when an assertion fails half-way.
#pragma once
#ifdef _WIN32

#include <windows.h>

#include <map>
#include <string>
#include <vector>

#include "platform/family.h"

namespace resident_test {

struct Box {
    std::string text;
    std::string caption;
    UINT style;
    bool owned;
};

// Records the sweep's boxes in order while it lives.
class BoxRecorder {
public:
    BoxRecorder();
    ~BoxRecorder();
    BoxRecorder(const BoxRecorder&) = delete;
    BoxRecorder& operator=(const BoxRecorder&) = delete;
    const std::vector<Box>& boxes() const;
    std::vector<std::string> texts() const;
};

// Chooses the platform family while it lives.
class FamilyChoice {
public:
    explicit FamilyChoice(PlatformFamily family) { platformFamilyOverride = family; }
    ~FamilyChoice() { platformFamilyOverride = FamilyAuto; }
    FamilyChoice(const FamilyChoice&) = delete;
    FamilyChoice& operator=(const FamilyChoice&) = delete;
};

// A fresh folder below the test build tree, spelled with backslashes as the
// system spells process paths; removed with its contents at the end.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;
    // relative uses backslashes; missing folders are created.
    std::string Path(const std::string& relative) const;

private:
    std::string root_;
};

// Copies of a helper program, started and ended by the test. Every process
// still running when the set is destroyed is terminated.
class Children {
public:
    Children() = default;
    ~Children();
    Children(const Children&) = delete;
    Children& operator=(const Children&) = delete;
    // Copies the idle helper to path, starts it and waits until its main
    // runs (so its modules are loaded and its path can be read). Index.
    size_t StartIdle(const std::string& path);
    // Copies the sweep helper to path, runs it and returns its exit status.
    DWORD RunSweepChild(const std::string& path);
    DWORD Id(size_t index) const { return ids_[index]; }
    // Waits (bounded) for the child to end; its exit status, or STILL_ACTIVE.
    DWORD WaitForEnd(size_t index) const;
    bool Running(size_t index) const;

private:
    std::vector<HANDLE> processes_;
    std::vector<DWORD> ids_;
    std::vector<std::string> files_;
};

// Services created by the test; any that remain are deleted at the end.
class Services {
public:
    Services() = default;
    ~Services();
    Services(const Services&) = delete;
    Services& operator=(const Services&) = delete;
    bool Create(const std::string& name, const std::string& displayName);
    // ERROR_SUCCESS when the service exists, else the error of OpenServiceA.
    static DWORD Lookup(const std::string& name);

private:
    std::vector<std::string> names_;
};

// Values of the machine-wide Run key created by the test (ANSI or wide
// names); any that remain are deleted at the end.
class RunValues {
public:
    RunValues() = default;
    ~RunValues();
    RunValues(const RunValues&) = delete;
    RunValues& operator=(const RunValues&) = delete;
    bool Add(const std::string& name);
    bool AddWide(const std::wstring& name);
    static bool Exists(const std::string& name);
    static bool ExistsWide(const std::wstring& name);

private:
    std::vector<std::wstring> names_;
};

// Counts the openings of the Run key made through the sweep's seam; with
// refuse set, every opening fails with ERROR_ACCESS_DENIED.
class RunKeyOpenCounter {
public:
    explicit RunKeyOpenCounter(bool refuse = false);
    ~RunKeyOpenCounter();
    RunKeyOpenCounter(const RunKeyOpenCounter&) = delete;
    RunKeyOpenCounter& operator=(const RunKeyOpenCounter&) = delete;
    int count() const;
};

// Stands in fakes for the functions the enumerators look up, or makes them
// missing, while it lives; other names are looked up for real.
class LookupFakes {
public:
    LookupFakes();
    ~LookupFakes();
    LookupFakes(const LookupFakes&) = delete;
    LookupFakes& operator=(const LookupFakes&) = delete;
    template <typename Function>
    void Replace(const char* name, Function function) {
        ReplaceAddress(name, reinterpret_cast<FARPROC>(reinterpret_cast<void (*)()>(function)));
    }
    void Remove(const char* name) { ReplaceAddress(name, nullptr); }
    // Installs the Toolhelp32 stand-in below.
    void UseFakeToolhelp();
    // Installs an EnumProcesses stand-in below.
    void UseFakeEnumProcesses();

private:
    void ReplaceAddress(const char* name, FARPROC function);
};

struct FakeProcess {
    DWORD id;
    std::string path;
};

// The Toolhelp32 stand-in: delivers processes in order and counts its
// calls. Each snapshot is a real kernel handle (an event), so a snapshot
// that is never closed shows in OwnHandleCount.
struct FakeToolhelp {
    static std::vector<FakeProcess> processes;
    static int snapshots;
    static int walks;  // Process32First and Process32Next calls
    static bool entrySizeWrong;  // a walk got a record whose dwSize was not set
    static void Reset(std::vector<FakeProcess> list);
};

// The EnumProcesses stand-in: reports count ids (FakeEnumProcesses::Id(i),
// ids no process has), as many as the buffer holds. With overstate it
// claims the bytes of all count ids even when fewer fit; with fail it fails.
struct FakeEnumProcesses {
    static DWORD count;
    static bool overstate;
    static bool fail;
    static int calls;
    static DWORD lastBufferSize;
    static DWORD Id(DWORD index) { return 0x7FFF0000u + 4 * index; }
    static void Reset(DWORD processCount);
};

// Kernel handles this process holds now (the system's handle table).
int OwnHandleCount();

// Whether SeDebugPrivilege is enabled in this process's token; enabling or
// disabling it for the test.
bool DebugPrivilegeEnabled();
void SetDebugPrivilege(bool enabled);

// The full path of the running test program.
std::string OwnPath();
std::string FileNamePart(const std::string& path);
bool SameTextIgnoringCase(const std::string& a, const std::string& b);

}  // namespace resident_test

#endif  // _WIN32
