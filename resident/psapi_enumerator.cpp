#include <cstring>

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

namespace {

// One byte more than a path of MAX_PATH - 1 characters and its NUL needs:
// only a name that fills this buffer can have been cut short.
constexpr DWORD NameReadSize = MAX_PATH + 1;

}  // namespace

// The first module of a process is its executable image. Whatever cannot be
// read leaves the path empty; the process is still delivered.
void PsapiProcessEnumerator::ReadPath(DWORD processId, char* path, DWORD length) const {
    if (length == 0) return;
    path[0] = '\0';
    HANDLE process = OpenProcess(PROCESS_QUERY_INFORMATION | PROCESS_VM_READ, FALSE, processId);
    if (process == nullptr) return;
    HMODULE modules[MaxModules];
    DWORD bytesNeeded = 0;
    char name[NameReadSize];
    DWORD nameLength = 0;
    if (enumProcessModules(process, modules, sizeof modules, &bytesNeeded) && bytesNeeded >= sizeof modules[0]) {
        nameLength = getModuleFileNameEx(process, modules[0], name, NameReadSize);
    }
    CloseHandle(process);
    // A cut name is returned as NameReadSize bytes without a NUL by older
    // systems and as NameReadSize - 1 bytes with one by newer ones. Its last
    // part may be a folder's name cut in the middle, so it is not delivered,
    // and neither is a whole name that the caller's buffer would cut.
    if (nameLength == 0 || nameLength >= NameReadSize - 1 || nameLength >= length) return;
    std::memcpy(path, name, nameLength);
    path[nameLength] = '\0';
}
