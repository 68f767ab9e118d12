// Shared pieces of the resident sweep's tests: boxes recorded instead of
// shown, fakes of the looked-up functions, copies of the helper programs
// started under chosen names, and guards that remove every process, service
// and Run value a test creates, even when an assertion fails half-way.
#pragma once
#ifdef _WIN32

#include <windows.h>

#include <string>
#include <vector>

#include "platform/seams.h"

namespace resident_test {

struct Box {
    std::string text, caption;
    UINT style;
    bool owned;
};

// Records the sweep's boxes, in order, while it lives.
struct BoxRecorder {
    BoxRecorder();
    ~BoxRecorder();
    const std::vector<Box>& boxes() const;
    std::vector<std::string> texts() const;
};

// Chooses the platform family while it lives.
struct FamilyChoice {
    explicit FamilyChoice(PlatformFamily family) { seamPlatformFamily = family; }
    ~FamilyChoice() { seamPlatformFamily = FamilyAuto; }
};

// A fresh folder below the test build tree, spelled with backslashes as the
// system spells process paths. Path() creates missing parent folders.
class ScratchFolder {
public:
    ScratchFolder();
    ~ScratchFolder();
    std::string Path(const std::string& relative) const;

private:
    std::string root_;
};

// Copies of the helper programs, started by the test; whatever still runs
// at the end is terminated.
class Children {
public:
    ~Children();
    // Starts a copy of the idle helper and waits until its main runs (its
    // modules are loaded, so its path can be read). Returns its index.
    size_t StartIdle(const std::string& path);
    // Runs a copy of the sweep helper to its end; its exit status.
    DWORD RunSweepChild(const std::string& path);
    DWORD Id(size_t index) const { return ids_[index]; }
    DWORD WaitForEnd(size_t index) const;  // exit status (bounded wait)
    bool Running(size_t index) const;

private:
    size_t Launch(const char* program, const std::string& path, const std::string& arguments);
    std::vector<HANDLE> processes_;
    std::vector<DWORD> ids_;
    std::vector<std::string> files_;
};

// Services created by the test (binary: the idle helper, never started).
struct Services {
    ~Services();
    bool Create(const std::string& name, const std::string& displayName);
    static DWORD Lookup(const std::string& name);  // ERROR_SUCCESS or OpenServiceA's error
    std::vector<std::string> names;
};

// Values of the machine-wide Run key created by the test.
struct RunValues {
    ~RunValues();
    bool Add(const std::wstring& name);
    static bool Exists(const std::wstring& name);
    std::vector<std::wstring> names;
};

// Counts the sweep's openings of the Run key; with refuse they all fail.
struct RunKeyOpenCounter {
    explicit RunKeyOpenCounter(bool refuse = false);
    ~RunKeyOpenCounter();
    int count() const;
};

// Fakes for the functions the enumerators look up, or missing ones, while
// it lives; other names are looked up for real.
struct LookupFakes {
    LookupFakes();
    ~LookupFakes();
    void UseFakeToolhelp();
    void UseFakeEnumProcesses();
    void UseFakeModuleFileName();
    void Remove(const char* name);
};

struct FakeProcess {
    DWORD id;
    std::string path;
};

// The Toolhelp32 fake delivers these processes in order; a path of 260
// bytes or more fills szExeFile without a NUL. Its snapshots are events, so
// one that is never closed shows in OwnHandleCount.
struct FakeToolhelp {
    static std::vector<FakeProcess> processes;
    static int snapshots, walks;  // walks: Process32First and Process32Next calls
    static bool entrySizeWrong;   // a walk got a record without its dwSize
    static void Reset(std::vector<FakeProcess> list);
};

// The EnumProcesses fake reports count ids that no process has, as many as
// fit; overstate claims the bytes of all of them, fail makes it fail.
// When realIds is set (after Reset), it reports those instead, so that the
// paths of real processes are read (and can be faked).
struct FakeEnumProcesses {
    static DWORD count, lastBufferSize;
    static bool overstate, fail;
    static int calls;
    static std::vector<DWORD> realIds;
    static DWORD Id(DWORD index) { return 0x7FFF0000u + 4 * index; }
    static void Reset(DWORD processCount);
};

// The GetModuleFileNameExA fake gives name for every module, cut as the
// system cuts one that does not fit: older systems fill the buffer without
// a NUL and return its size, newer ones return one less with a NUL. With
// cutInFolder the name is made to fit each call's buffer size, so that the
// buffer ends within a folder named "winkfolder".
struct FakeModuleFileName {
    static std::string name;
    static bool olderSystem, cutInFolder;
    static int calls;
    static void Reset(std::string fullName, bool older);
};

int OwnHandleCount();  // kernel handles this process holds, from the system's table
bool DebugPrivilegeEnabled();
void SetDebugPrivilege(bool enabled);
std::string OwnPath();
std::string FileNamePart(const std::string& path);
bool SameTextIgnoringCase(const std::string& a, const std::string& b);

}  // namespace resident_test

#endif  // _WIN32
