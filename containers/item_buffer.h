// The buffer one nesting level decodes its items into: it grows with the
// largest item of its level, up to ItemBound, and no further.
#pragma once

#include <cstdint>
#include <cstdlib>

#include "containers/contained.h"

struct ItemBuffer {
    uint8_t* data = nullptr;
    uint32_t capacity = 0;
};

// At least size bytes (at most ItemBound); false when memory is short, the
// buffer then keeps what it had.
inline bool ReserveItem(ItemBuffer* buffer, uint32_t size) {
    if (size > ItemBound) return false;
    if (size <= buffer->capacity && buffer->data != nullptr) return true;
    // Growing by halves at least keeps an inflated item of unknown size from
    // costing more than a few copies.
    uint32_t grown = buffer->capacity + buffer->capacity / 2;
    if (grown < size) grown = size;
    if (grown > ItemBound) grown = ItemBound;
    if (grown == 0) grown = 1;
    void* moved = std::realloc(buffer->data, grown);
    if (moved == nullptr) return false;
    buffer->data = static_cast<uint8_t*>(moved);
    buffer->capacity = grown;
    return true;
}

inline void FreeItem(ItemBuffer* buffer) {
    std::free(buffer->data);
    buffer->data = nullptr;
    buffer->capacity = 0;
}
