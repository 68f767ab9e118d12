#include "resident/resident_sweep.h"

// Does not wait for the process to end.
int TerminateThreatProcess(DWORD processId) {
    HANDLE process = OpenProcess(PROCESS_TERMINATE, FALSE, processId);
    if (process == nullptr) return 0;
    const BOOL terminated = TerminateProcess(process, 1);
    CloseHandle(process);
    return terminated ? 1 : 0;
}
