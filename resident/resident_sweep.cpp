#include <cstring>

#include "platform/family.h"
#include "resident/process_list.h"
#include "resident/resident_sweep.h"
#include "resident/sweep_messages.h"

namespace {

constexpr DWORD SweepPathSize = 260;

// The characters after the last backslash, or the whole path without one.
const char* FileNamePart(const char* path) {
    const char* backslash = std::strrchr(path, '\\');
    return backslash != nullptr ? backslash + 1 : path;
}

// Every matching process gets its own box, in the order of delivery; the
// program's own process is examined like any other.
void SweepProcesses(ProcessList& processes) {
    char path[SweepPathSize] = "";
    DWORD processId = 0;
    processes.start();
    while (processes.next(&processId, path, SweepPathSize) != 0) {
        if (!HasThreatPrefix(FileNamePart(path))) continue;
        ShowSweepMessage(TerminateThreatProcess(processId) == 1, ProcessRemovedText, ProcessNotRemovedText);
    }
}

}  // namespace

int ResidentSweep() {
    ProcessList processes;
    bool examineProcesses = true;
    if (IsNtFamily()) {
        // Only a presence test: the enumerator holds its own reference.
        HMODULE psapi = LoadLibraryA("PSAPI.DLL");
        examineProcesses = psapi != nullptr;
        if (psapi != nullptr) FreeLibrary(psapi);
        EnableDebugPrivilege();
        RemoveThreatServices();
    }
    if (examineProcesses) SweepProcesses(processes);
    RemoveThreatRunValues();
    return 0;
}
