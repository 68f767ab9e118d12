#include "resident/library_lookup.h"
#include "resident/process_enumerator.h"

PsapiProcessEnumerator::PsapiProcessEnumerator() {
    module = LoadLibraryA("PSAPI.DLL");
    if (module == nullptr) return;
    enumProcesses = LookUpFunction<EnumProcessesFunction>(module, "EnumProcesses");
    getModuleFileNameEx = LookUpFunction<GetModuleFileNameExFunction>(module, "GetModuleFileNameExA");
    enumProcessModules = LookUpFunction<EnumProcessModulesFunction>(module, "EnumProcessModules");
}

PsapiProcessEnumerator::~PsapiProcessEnumerator() {
    if (module != nullptr) FreeLibrary(module);
}

// At most MaxProcesses ids are kept; when more run, the surplus is not
// listed. The reported byte count is capped as well, so that a count larger
// than the buffer can never walk past the array.
int PsapiProcessEnumerator::takeSnapshot() {
    processCount = 0;
    position = 0;
    if (!usable()) return 0;
    DWORD bytesReturned = 0;
    if (!enumProcesses(processIds, sizeof processIds, &bytesReturned)) return 0;
    processCount = bytesReturned / sizeof processIds[0];
    if (processCount > MaxProcesses) processCount = MaxProcesses;
    return 1;
}

int PsapiProcessEnumerator::rewind() {
    position = 0;
    return 1;
}

int PsapiProcessEnumerator::next(DWORD* processId, char* path, DWORD length) {
    if (position >= processCount) return 0;
    const DWORD id = processIds[position];
    *processId = id;
    ReadPath(id, path, length);
    ++position;
    return 1;
}

// The first module of a process is its executable image. Whatever cannot be
// read leaves the path empty; the process is still delivered.
void PsapiProcessEnumerator::ReadPath(DWORD processId, char* path, DWORD length) const {
    if (length == 0) return;
    path[0] = '\0';
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) return;
    HMODULE modules[MaxModules];
    DWORD bytesNeeded = 0;
    if (enumProcessModules(process, modules, sizeof modules, &bytesNeeded) && bytesNeeded >= sizeof modules[0]) {
        // Older systems leave a truncated name without its terminating NUL.
        if (getModuleFileNameEx(process, modules[0], path, length) == 0) path[0] = '\0';
        path[length - 1] = '\0';
    }
    CloseHandle(process);
}
