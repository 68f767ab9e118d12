#include "platform/family.h"
#include "resident/process_list.h"
#include "resident/resident_sweep.h"
#include "resident/sweep_messages.h"

namespace {

constexpr DWORD SweepPathSize = 260;

// Every matching process gets its own box, in the order of delivery; the
// program's own process is examined like any other.
void SweepProcesses(ProcessList& processes) {
    char path[SweepPathSize] = "";
    DWORD processId = 0;
    processes.start();
    while (processes.next(&processId, path, SweepPathSize) != 0) {
        if (!HasThreatPrefix(ProcessFileName(path))) continue;
        ShowSweepMessage(TerminateThreatProcess(processId) == 1, ProcessRemovedText, ProcessNotRemovedText);
    }
}

}  // namespace

// A forward scan: only from the start of a string is it known which bytes
// begin characters. A lead byte just before the NUL (a name cut after it)
// is taken alone, so the scan never passes the end.
const char* ProcessFileName(const char* path, UINT codePage) {
    const char* name = path;
    for (const char* at = path; *at != '\0';) {
        if (*at == '\\') name = at + 1;
        at += (IsDBCSLeadByteEx(codePage, static_cast<BYTE>(*at)) && at[1] != '\0') ? 2 : 1;
    }
    return name;
}

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
