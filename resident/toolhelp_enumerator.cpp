#include <cstring>

#include "resident/library_lookup.h"
#include "resident/process_enumerator.h"

// The 95/98/Me record is 296 bytes; 64-bit builds have a wider one.
static_assert(sizeof(void*) != 4 || sizeof(PROCESSENTRY32) == 296, "PROCESSENTRY32 layout");

ToolhelpProcessEnumerator::ToolhelpProcessEnumerator() {
    module = GetModuleHandleA("KERNEL32.DLL");
    if (module == nullptr) {
        module = LoadLibraryA("kernel32.dll");
        if (module == nullptr) return;
        ownsModule = 1;
    }
    createSnapshot = LookUpFunction<CreateSnapshotFunction>(module, "CreateToolhelp32Snapshot");
    firstProcess = LookUpFunction<ProcessWalkFunction>(module, "Process32First");
    nextProcess = LookUpFunction<ProcessWalkFunction>(module, "Process32Next");
}

// The snapshot is closed here and whenever a new one replaces it: each one
// is a kernel object that would otherwise live as long as the program.
ToolhelpProcessEnumerator::~ToolhelpProcessEnumerator() {
    if (hasSnapshot()) CloseHandle(snapshot);
    if (ownsModule == 1) FreeLibrary(module);
}

int ToolhelpProcessEnumerator::takeSnapshot() {
    if (!usable()) return 0;
    if (hasSnapshot()) CloseHandle(snapshot);
    snapshot = createSnapshot(TH32CS_SNAPPROCESS, 0);
    return hasSnapshot();
}

int ToolhelpProcessEnumerator::rewind() {
    hasEntry = 0;
    if (hasSnapshot()) {
        entry.dwSize = sizeof entry;
        hasEntry = firstProcess(snapshot, &entry) ? 1 : 0;
    }
    return 1;
}

// Works one entry ahead: entry holds the process to deliver now, and the
// following one is fetched before returning.
int ToolhelpProcessEnumerator::next(DWORD* processId, char* path, DWORD length) {
    if (hasEntry == 0) return 0;
    *processId = entry.th32ProcessID;
    if (length > 0) {
        // A name without its NUL, or one that the caller's buffer would cut,
        // is not delivered cut: its last part may be a folder's name cut in
        // the middle. The path stays empty instead.
        const void* end = std::memchr(entry.szExeFile, '\0', sizeof entry.szExeFile);
        const size_t nameLength =
            end != nullptr ? static_cast<size_t>(static_cast<const char*>(end) - entry.szExeFile) : length;
        if (nameLength < length) {
            std::memcpy(path, entry.szExeFile, nameLength + 1);
        } else {
            path[0] = '\0';
        }
    }
    hasEntry = nextProcess(snapshot, &entry) ? 1 : 0;
    return 1;
}
