// Checksum, checksum forging, the seeded generator and little-endian fields.
#include <array>

#include "tests/support/synth.h"

namespace synth {

namespace {

std::array<uint32_t, 256> MakeTable() {
    std::array<uint32_t, 256> table{};
    for (uint32_t i = 0; i < 256; ++i) {
        uint32_t value = i;
        for (int bit = 0; bit < 8; ++bit) value = (value & 1u) != 0 ? (value >> 1) ^ 0xEDB88320u : value >> 1;
        table[i] = value;
    }
    return table;
}

const std::array<uint32_t, 256>& Table() {
    static const std::array<uint32_t, 256> table = MakeTable();
    return table;
}

uint32_t Continue(uint32_t reg, const uint8_t* data, size_t length) {
    const auto& table = Table();
    for (size_t i = 0; i < length; ++i) reg = (reg >> 8) ^ table[(reg ^ data[i]) & 0xFFu];
    return reg;
}

}  // namespace

uint32_t Crc32Raw(const uint8_t* data, size_t length) { return Continue(0xFFFFFFFFu, data, length); }

uint32_t Crc32Raw(const Bytes& data, size_t offset, size_t length) {
    if (offset > data.size() || length > data.size() - offset) return 0;  // misuse; callers stay in range
    return Crc32Raw(data.data() + offset, length);
}

// Without the final inversion the checksum is affine over GF(2) in the 32
// patch bits: crc(x) = M x ^ crc(0). The 32 columns of M come from flipping
// one bit at a time; M is invertible for four consecutive bytes, so an XOR
// basis of the columns always expresses target ^ crc(0).
bool ForgeCrc(Bytes& data, size_t regionOffset, size_t regionLength, size_t patchOffset, uint32_t target) {
    if (regionOffset > data.size() || regionLength > data.size() - regionOffset) return false;
    if (patchOffset < regionOffset || regionLength < 4 || patchOffset - regionOffset > regionLength - 4) return false;

    const Bytes saved(data.begin() + static_cast<std::ptrdiff_t>(patchOffset),
                      data.begin() + static_cast<std::ptrdiff_t>(patchOffset + 4));
    const uint32_t prefix = Continue(0xFFFFFFFFu, data.data() + regionOffset, patchOffset - regionOffset);
    const size_t tailLength = regionOffset + regionLength - patchOffset;  // patch and what follows it
    auto crcWithPatch = [&](uint32_t patch) {
        for (size_t i = 0; i < 4; ++i) data[patchOffset + i] = static_cast<uint8_t>(patch >> (8 * i));
        return Continue(prefix, data.data() + patchOffset, tailLength);
    };

    const uint32_t base = crcWithPatch(0);
    std::array<uint32_t, 32> basisValue{};
    std::array<uint32_t, 32> basisCombination{};
    for (int bit = 0; bit < 32; ++bit) {
        uint32_t value = crcWithPatch(1u << bit) ^ base;
        uint32_t combination = 1u << bit;
        for (int pivot = 31; pivot >= 0 && value != 0; --pivot) {
            if (((value >> pivot) & 1u) == 0) continue;
            const auto p = static_cast<size_t>(pivot);
            if (basisValue[p] == 0) {
                basisValue[p] = value;
                basisCombination[p] = combination;
                break;
            }
            value ^= basisValue[p];
            combination ^= basisCombination[p];
        }
    }

    uint32_t want = target ^ base;
    uint32_t patch = 0;
    for (int pivot = 31; pivot >= 0; --pivot) {
        if (((want >> pivot) & 1u) == 0) continue;
        const auto p = static_cast<size_t>(pivot);
        if (basisValue[p] == 0) break;  // cannot happen for four whole bytes; caught below
        want ^= basisValue[p];
        patch ^= basisCombination[p];
    }
    if (want == 0 && crcWithPatch(patch) == target) return true;
    for (size_t i = 0; i < 4; ++i) data[patchOffset + i] = saved[i];
    return false;
}

uint64_t Rng::Next64() {
    state_ += 0x9E3779B97F4A7C15ull;
    uint64_t z = state_;
    z = (z ^ (z >> 30)) * 0xBF58476D1CE4E5B9ull;
    z = (z ^ (z >> 27)) * 0x94D049BB133111EBull;
    return z ^ (z >> 31);
}

uint32_t Rng::Below(uint32_t bound) {
    if (bound == 0) return 0;
    return static_cast<uint32_t>(Next64() % bound);
}

void Rng::Fill(uint8_t* data, size_t length) {
    for (size_t i = 0; i < length; ++i) data[i] = Byte();
}

uint32_t SubSeed(uint32_t seed, uint32_t salt) {
    Rng rng((static_cast<uint64_t>(seed) << 32) ^ (0x5851F42Dull * (salt + 1)));
    return rng.Next32();
}

uint16_t GetLe16(const Bytes& data, size_t offset) {
    return static_cast<uint16_t>(data.at(offset) | (data.at(offset + 1) << 8));
}

uint32_t GetLe32(const Bytes& data, size_t offset) {
    return static_cast<uint32_t>(data.at(offset)) | (static_cast<uint32_t>(data.at(offset + 1)) << 8) |
           (static_cast<uint32_t>(data.at(offset + 2)) << 16) | (static_cast<uint32_t>(data.at(offset + 3)) << 24);
}

void PutLe16(Bytes& data, size_t offset, uint16_t value) {
    data.at(offset) = static_cast<uint8_t>(value);
    data.at(offset + 1) = static_cast<uint8_t>(value >> 8);
}

void PutLe32(Bytes& data, size_t offset, uint32_t value) {
    for (size_t i = 0; i < 4; ++i) data.at(offset + i) = static_cast<uint8_t>(value >> (8 * i));
}

}  // namespace synth
