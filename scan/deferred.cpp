#include "scan/deferred.h"

#include "scan/fs.h"

int DeferredRename(const char* source, const char* target) {
    // Succeeds at once only when the target has gone in the meantime.
    if (MovePath(source, target)) return 1;
    if (IsNtFamily()) {
        // Delete the target first, then move the source in: the order in
        // which the system carries the requests out at restart.
        if (!ScheduleDelete(target)) return 0;
        return ScheduleMove(source, target) ? 1 : 0;
    }
    return WriteWininitRename(target, source) ? 1 : 0;
}

int DeferredDelete(const char* path) { return ScheduleDelete(path) ? 1 : 0; }
