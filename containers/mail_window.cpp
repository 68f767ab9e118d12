#include "containers/mail_window.h"

#include "containers/mail_bounds.h"

const uint8_t* WindowAt(MailWindow* window, uint64_t offset, uint32_t length, WindowFailure* failure) {
    *failure = WindowFailure::None;
    const uint64_t fileSize = window->source->size;
    if (length > window->capacity || !SpanFits(fileSize, offset, length)) {
        *failure = WindowFailure::Outside;
        return nullptr;
    }
    if (offset >= window->start && SpanFits(window->size, offset - window->start, length)) {
        return window->buffer + (offset - window->start);
    }
    const bool continues = offset >= window->start && offset - window->start <= uint64_t{window->size} + window->capacity;
    uint32_t want = continues ? window->capacity : DbxScatteredReadBytes;
    if (want < length) want = length;
    if (want > window->capacity) want = window->capacity;
    if (want > fileSize - offset) want = static_cast<uint32_t>(fileSize - offset);
    const uint32_t got = window->source->readAt(window->source->context, offset, window->buffer, want);
    window->bytesRead += got;
    window->start = offset;
    window->size = got <= want ? got : 0;
    if (window->size < length) {
        *failure = WindowFailure::ReadError;
        return nullptr;
    }
    return window->buffer;
}
