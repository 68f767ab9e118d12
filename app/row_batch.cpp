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

// A row's text beyond this is cut, so that any row fits an empty batch.
constexpr size_t MaxTextLength = RowTextLimit;
static_assert(2 * (MaxTextLength + 1) <= RowBatchSize, "any row fits an empty batch");

void AppendText(Batch* batch, const char* text, size_t length) {
    std::memcpy(batch->text + batch->used, text, length);
    batch->text[batch->used + length] = '\0';
    batch->used += length + 1;
}

size_t CutLength(const char* text) { return CutAtCharacter(text, std::strlen(text), MaxTextLength); }

// Appends "object\0status\0"; false when it does not fit.
bool Append(const char* object, const char* status) {
    const size_t objectLength = CutLength(object);
    const size_t statusLength = CutLength(status);
    EnterCriticalSection(&Lock());
    const bool fits = filling->used <= RowBatchSize - (objectLength + 1) - (statusLength + 1);
    if (fits) {
        AppendText(filling, object, objectLength);
        AppendText(filling, status, statusLength);
    }
    LeaveCriticalSection(&Lock());
    return fits;
}

}  // namespace

size_t CutAtCharacter(const char* text, size_t length, size_t limit) {
    if (length <= limit) return length;
    size_t cut = limit;
    // text[cut] is the first byte left out: while it continues a sequence,
    // that sequence began before the cut and goes too.
    while (cut > 0 && limit - cut < 3 && (static_cast<unsigned char>(text[cut]) & 0xC0) == 0x80) --cut;
    return cut;
}

// A full batch is taken by the dialog first; an empty one holds any row.
void QueueRow(const char* object, const char* status) {
    if (Append(object, status)) return;
    SendMessageA(MainDialog, WM_SHOW_ROWS, 0, 0);
    Append(object, status);
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
