#include "engine/crc32.h"

#include <array>
#include <cstddef>

namespace {

constexpr std::array<uint32_t, 256> BuildCrcTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1u) ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table[i] = value;
    }
    return table;
}

constexpr std::array<uint32_t, 256> BuiltTable = BuildCrcTable();
static_assert(BuiltTable[1] == 0x77073096u && BuiltTable[255] == 0x2D02EF8Du, "CRC table");

// Slicing by eight: Slices[k][b] is the register contribution of byte b
// followed by k zero bytes, so eight bytes cost eight independent look-ups
// instead of eight dependent ones. Same register, same results as the
// byte-at-a-time loop.
using SliceTables = std::array<std::array<uint32_t, 256>, 8>;

constexpr SliceTables BuildSlices() {
    SliceTables slices{};
    slices[0] = BuiltTable;
    for (std::size_t k = 1; k < 8; ++k) {
        for (std::size_t i = 0; i < 256; ++i) {
            const uint32_t previous = slices[k - 1][i];
            slices[k][i] = (previous >> 8) ^ BuiltTable[previous & 0xFFu];
        }
    }
    return slices;
}

constexpr SliceTables Slices = BuildSlices();

inline uint32_t Load32(const uint8_t* p) {
    return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) | (static_cast<uint32_t>(p[2]) << 16) |
           (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace


const uint32_t CrcTable[256] = {
#define ROW(i) BuiltTable[i], BuiltTable[i + 1], BuiltTable[i + 2], BuiltTable[i + 3]
#define ROW16(i) ROW(i), ROW(i + 4), ROW(i + 8), ROW(i + 12)
    ROW16(0),   ROW16(16),  ROW16(32),  ROW16(48),  ROW16(64),  ROW16(80),  ROW16(96),  ROW16(112),
    ROW16(128), ROW16(144), ROW16(160), ROW16(176), ROW16(192), ROW16(208), ROW16(224), ROW16(240),
#undef ROW16
#undef ROW
};

uint32_t Crc32Raw(const void* data, int32_t length) {
    uint32_t reg = 0xFFFFFFFFu;
    if (length <= 0) return reg;
    const auto* bytes = static_cast<const uint8_t*>(data);
    auto remaining = static_cast<uint32_t>(length);
    // Bytes are assembled little-endian by hand, so the result does not
    // depend on the host's byte order or on the data's alignment.
    for (; remaining >= 8; remaining -= 8, bytes += 8) {
        const uint32_t low = reg ^ Load32(bytes);
        const uint32_t high = Load32(bytes + 4);
        reg = Slices[7][low & 0xFFu] ^ Slices[6][(low >> 8) & 0xFFu] ^ Slices[5][(low >> 16) & 0xFFu] ^
              Slices[4][low >> 24] ^ Slices[3][high & 0xFFu] ^ Slices[2][(high >> 8) & 0xFFu] ^
              Slices[1][(high >> 16) & 0xFFu] ^ Slices[0][high >> 24];
    }
    for (; remaining > 0; --remaining, ++bytes) reg = (reg >> 8) ^ CrcTable[(reg ^ *bytes) & 0xFFu];
    return reg;
}
