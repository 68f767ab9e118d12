// Rows on their way from the scan worker to the results list. The worker
// only appends copies of their texts; the user-interface thread takes every
// waiting row at once, on the list's timer and whenever the worker asks, and
// inserts them. One trip between the threads per batch instead of per row.
#pragma once

#include <cstddef>

// Worker: queues a copy of one row. When the batch is full it first has the
// dialog take the waiting rows (a sent WM_SHOW_ROWS), so a row is never lost.
void QueueRow(const char* object, const char* status);

// User-interface thread: calls insert for every waiting row, in order.
void TakeRows(void (*insert)(const char* object, const char* status));

// The batch's room; each text of a row is cut to half of it.
constexpr size_t RowBatchSize = 32768;
