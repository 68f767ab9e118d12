// The one checked reader for little-endian fields taken from file bytes.
// Every read names its offset and fails (returns false, leaves *out alone)
// unless the whole field lies inside the view; the test cannot wrap.
#pragma once

#include <cstdint>

struct ByteView {
    const uint8_t* data;
    uint32_t size;
};

inline bool FieldFits(ByteView view, uint32_t offset, uint32_t length) {
    return view.data != nullptr && length <= view.size && offset <= view.size - length;
}

inline bool ReadLe8(ByteView view, uint32_t offset, uint8_t* out) {
    if (!FieldFits(view, offset, 1)) return false;
    *out = view.data[offset];
    return true;
}

inline bool ReadLe16(ByteView view, uint32_t offset, uint16_t* out) {
    if (!FieldFits(view, offset, 2)) return false;
    const uint8_t* p = view.data + offset;
    *out = static_cast<uint16_t>(p[0] | (p[1] << 8));
    return true;
}

inline bool ReadLe32(ByteView view, uint32_t offset, uint32_t* out) {
    if (!FieldFits(view, offset, 4)) return false;
    const uint8_t* p = view.data + offset;
    *out = static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
    return true;
}

// For the engine's own fixed-size buffers, whose indices are constants
// inside the buffer: no view, no check.
inline uint32_t LoadLe32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
           (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

inline bool WriteLe32(uint8_t* data, uint32_t size, uint32_t offset, uint32_t value) {
    if (data == nullptr || 4 > size || offset > size - 4) return false;
    for (int i = 0; i < 4; ++i) data[offset + static_cast<uint32_t>(i)] = static_cast<uint8_t>(value >> (8 * i));
    return true;
}
