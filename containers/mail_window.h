// Reads of an Outlook Express folder's objects through a buffer: an object
// the buffer holds costs nothing; one that continues it refills the whole
// buffer from there (blocks of a chain mostly follow one another); any
// other reads only a little, so that a folder whose objects lie scattered
// costs a bounded multiple of its size.
#pragma once

#include <cstdint>

#include "containers/contained.h"

struct MailWindow {
    const ByteSource* source = nullptr;
    uint8_t* buffer = nullptr;
    uint32_t capacity = 0;
    uint64_t start = 0;
    uint32_t size = 0;
    uint64_t bytesRead = 0;  // through this window so far
};

enum class WindowFailure {
    None,
    Outside,    // the object does not lie inside the file
    ReadError,  // the source gave fewer bytes than the file holds
};

// The length bytes (at most capacity) at offset, valid until the next call,
// or null with the reason.
const uint8_t* WindowAt(MailWindow* window, uint64_t offset, uint32_t length, WindowFailure* failure);

