#include "app/row_batch.h"

#include <windows.h>

#include <cstring>

#include "app/program.h"

namespace {

// Two buffers: the worker fills one while the user-interface thread inserts
// the rows of the other. Only the swap is done under the lock.
struct Batch {
    char text[RowBatchSize];
    size_t used;
};
Batch batches[2];
Batch* filling = &batches[0];
Batch* taken = &batches[1];

CRITICAL_SECTION& Lock() {
    static CRITICAL_SECTION lock;
    static const bool ready = (InitializeCriticalSection(&lock), true);
    (void)ready;
    return lock;
}

// Appends "object\0status\0"; false when it does not fit.
bool Append(Batch* batch, const char* object, const char* status) {
    const size_t objectSize = std::strlen(object) + 1;
    const size_t statusSize = std::strlen(status) + 1;
    if (objectSize > RowBatchSize || statusSize > RowBatchSize - objectSize ||
        batch->used > RowBatchSize - objectSize - statusSize) {
        return false;
    }
    std::memcpy(batch->text + batch->used, object, objectSize);
    std::memcpy(batch->text + batch->used + objectSize, status, statusSize);
    batch->used += objectSize + statusSize;
    return true;
}

void CopyCut(char* to, size_t size, const char* from) {
    size_t length = std::strlen(from);
    if (length > size - 1) length = size - 1;
    std::memcpy(to, from, length);
    to[length] = '\0';
}

}  // namespace

void QueueRow(const char* object, const char* status) {
    for (int attempt = 0;; ++attempt) {
        EnterCriticalSection(&Lock());
        const bool queued = Append(filling, object, status);
        LeaveCriticalSection(&Lock());
        if (queued) return;
        if (attempt == 1) {
            // Longer than a whole batch: the row still appears, cut.
            char cutObject[RowBatchSize / 2];
            char cutStatus[RowBatchSize / 4];
            CopyCut(cutObject, sizeof cutObject, object);
            CopyCut(cutStatus, sizeof cutStatus, status);
            EnterCriticalSection(&Lock());
            Append(filling, cutObject, cutStatus);
            LeaveCriticalSection(&Lock());
            return;
        }
        SendMessageA(MainDialog, WM_SHOW_ROWS, 0, 0);
    }
}

void TakeRows(void (*insert)(const char* object, const char* status)) {
    EnterCriticalSection(&Lock());
    Batch* full = filling;
    filling = taken;
    taken = full;
    LeaveCriticalSection(&Lock());
    for (size_t at = 0; at < full->used;) {
        const char* object = full->text + at;
        const char* status = object + std::strlen(object) + 1;
        insert(object, status);
        at = static_cast<size_t>(status - full->text) + std::strlen(status) + 1;
    }
    full->used = 0;
}
