#include <new>

#include "platform/seams.h"
#include "resident/process_enumerator.h"
#include "resident/process_list.h"

DWORD RunningPlatformId() {
    if (seamPlatformFamily == FamilyNt) return VER_PLATFORM_WIN32_NT;
    if (seamPlatformFamily == FamilyWin9x) return VER_PLATFORM_WIN32_WINDOWS;
    OSVERSIONINFOA version{};
    version.dwOSVersionInfoSize = sizeof version;
    if (!GetVersionExA(&version)) return 0;
    return version.dwPlatformId;
}

ProcessEnumerator* NewProcessEnumerator(DWORD platformId) {
    if (platformId == VER_PLATFORM_WIN32_WINDOWS) return new (std::nothrow) ToolhelpProcessEnumerator;
    if (platformId == VER_PLATFORM_WIN32_NT) return new (std::nothrow) PsapiProcessEnumerator;
    return nullptr;
}

ProcessList::ProcessList() : enumerator(NewProcessEnumerator(RunningPlatformId())) {}

ProcessList::~ProcessList() { delete enumerator; }

void ProcessList::start() {
    if (enumerator == nullptr) return;
    enumerator->takeSnapshot();
    enumerator->rewind();
}

int ProcessList::next(DWORD* processId, char* path, DWORD length) {
    if (enumerator == nullptr) return 0;
    return enumerator->next(processId, path, length);
}
