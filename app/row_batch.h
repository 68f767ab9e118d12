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

// The batch's room; each text of a row is cut to half of it. Fixed, however
// long the paths the scan carries: a row's text is shown, not acted on.
constexpr size_t RowBatchSize = 32768;
constexpr size_t RowTextLimit = RowBatchSize / 2 - 1;

// The length of text[0, length) cut to at most limit bytes where a character
// begins, so that on the NT family, where rows are WTF-8, a cut never leaves
// half a character for the list to show as a replacement mark. Only a lead
// byte followed by its continuation bytes is a character: the cut backs over
// three continuation bytes at most, so bytes that are no WTF-8 at all are cut
// near the limit all the same (and shown leniently).
size_t CutAtCharacter(const char* text, size_t length, size_t limit);
