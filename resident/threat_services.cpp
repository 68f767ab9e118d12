#include <cstdlib>

#include "resident/resident_sweep.h"
#include "resident/sweep_messages.h"

namespace {

// Stopping is only asked for, not waited for: a service that does not run,
// or does not stop at once, is deleted all the same. One that is already
// marked for deletion counts as removed.
bool RemoveService(SC_HANDLE manager, ENUM_SERVICE_STATUSA* service) {
    SC_HANDLE handle = OpenServiceA(manager, service->lpServiceName, DELETE | SERVICE_STOP);
    if (handle == nullptr) return false;
    ControlService(handle, SERVICE_CONTROL_STOP, &service->ServiceStatus);
    const bool removed = DeleteService(handle) || GetLastError() == ERROR_SERVICE_MARKED_FOR_DELETE;
    // A deleted service disappears only when its last handle is closed.
    CloseServiceHandle(handle);
    return removed;
}

}  // namespace

// Matches by service (key) name only, never by display name. The list is
// fetched once; services added in between that no longer fit are left for
// the next run.
void RemoveThreatServices() {
    SC_HANDLE manager = OpenSCManagerA(nullptr, nullptr, SC_MANAGER_ALL_ACCESS);
    if (manager == nullptr) return;
    DWORD bytesNeeded = 0;
    DWORD servicesReturned = 0;
    DWORD resumeHandle = 0;
    EnumServicesStatusA(manager, SERVICE_WIN32, SERVICE_STATE_ALL, nullptr, 0, &bytesNeeded, &servicesReturned,
                        &resumeHandle);
    const DWORD bufferSize = bytesNeeded;
    auto* services = bufferSize != 0 ? static_cast<ENUM_SERVICE_STATUSA*>(std::malloc(bufferSize)) : nullptr;
    if (services != nullptr) {
        servicesReturned = 0;
        EnumServicesStatusA(manager, SERVICE_WIN32, SERVICE_STATE_ALL, services, bufferSize, &bytesNeeded,
                            &servicesReturned, &resumeHandle);
        // Never more entries than the buffer can hold, whatever the call says.
        const DWORD capacity = bufferSize / sizeof services[0];
        const DWORD count = servicesReturned < capacity ? servicesReturned : capacity;
        for (DWORD i = 0; i < count; ++i) {
            const char* name = services[i].lpServiceName;
            if (name == nullptr || !HasThreatPrefix(name)) continue;
            ShowSweepMessage(RemoveService(manager, &services[i]), ServiceRemovedText, ServiceNotRemovedText);
        }
        std::free(services);
    }
    CloseServiceHandle(manager);
}
