#include "engine/crc32.h"

#include <array>

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
    for (int32_t i = 0; i < length; ++i) reg = (reg >> 8) ^ CrcTable[(reg ^ bytes[i]) & 0xFFu];
    return reg;
}
