// The one checksum of the engine: the reflected CRC-32 register without the
// final inversion. Every signature and detector constant depends on it.
#include <gtest/gtest.h>

#include <cstdint>
#include <random>

#include "engine/crc32.h"
#include "tests/test_files.h"

using testfiles::Bytes;

TEST(CrcTable, KnownEntries) {
    EXPECT_EQ(CrcTable[0], 0x00000000u);
    EXPECT_EQ(CrcTable[1], 0x77073096u);
    EXPECT_EQ(CrcTable[128], 0xEDB88320u);
    EXPECT_EQ(CrcTable[255], 0x2D02EF8Du);
}

TEST(Crc32Raw, EmptyAndNegativeLengthsLeaveTheStartValue) {
    // A null pointer proves that no byte is looked at.
    EXPECT_EQ(Crc32Raw(nullptr, 0), 0xFFFFFFFFu);
    EXPECT_EQ(Crc32Raw(nullptr, -1), 0xFFFFFFFFu);
    EXPECT_EQ(Crc32Raw(nullptr, INT32_MIN), 0xFFFFFFFFu);
}

TEST(Crc32Raw, ReferenceValuesAreTheComplementOfTheUsualCrc) {
    EXPECT_EQ(Crc32Raw("abc", 3), 0xCADBBE3Du);
    EXPECT_EQ(~Crc32Raw("abc", 3), 0x352441C2u);
    EXPECT_EQ(Crc32Raw("123456789", 9), 0x340BC6D9u);
    EXPECT_EQ(~Crc32Raw("123456789", 9), 0xCBF43926u);
    // One byte: a single table step from the start value.
    const uint8_t zero = 0;
    EXPECT_EQ(Crc32Raw(&zero, 1), 0x00FFFFFFu ^ CrcTable[0xFF]);
}

TEST(Crc32Raw, LengthBoundsTheBytesRead) {
    // Bytes beyond the length must not count; the byte at the length must.
    const char text[] = "123456789X";
    EXPECT_EQ(Crc32Raw(text, 9), 0x340BC6D9u);
    EXPECT_NE(Crc32Raw(text, 10), 0x340BC6D9u);
    EXPECT_NE(Crc32Raw(text, 8), 0x340BC6D9u);
}

TEST(Crc32Raw, HighBytesAndLongInputs) {
    // Bytes >= 0x80 index the table like any other (no sign extension).
    Bytes high(300);
    for (size_t i = 0; i < high.size(); ++i) high[i] = static_cast<uint8_t>(0xFF - i % 256);
    uint32_t reference = 0xFFFFFFFFu;
    for (uint8_t b : high) {
        reference ^= b;
        for (int bit = 0; bit < 8; ++bit) reference = (reference & 1u) ? (reference >> 1) ^ 0xEDB88320u : reference >> 1;
    }
    EXPECT_EQ(Crc32Raw(high.data(), static_cast<int32_t>(high.size())), reference);
}

namespace {

// The definition itself, one bit at a time: the yardstick for the fast loop.
uint32_t BitwiseCrcRaw(const uint8_t* data, size_t length) {
    uint32_t reg = 0xFFFFFFFFu;
    for (size_t i = 0; i < length; ++i) {
        reg ^= data[i];
        for (int bit = 0; bit < 8; ++bit) reg = (reg & 1u) ? (reg >> 1) ^ 0xEDB88320u : reg >> 1;
    }
    return reg;
}

}  // namespace

TEST(Crc32Raw, EveryLengthAndAlignmentMatchesTheBitwiseDefinition) {
    // The fast loops take 64, 16 or 8 bytes at a time and finish byte by
    // byte: every length 0..300 at each of sixteen start alignments covers
    // all splits between them, and long random runs cover the rest.
    std::mt19937 generator(20261208u);
    Bytes data(40000 + 16);
    for (uint8_t& b : data) b = static_cast<uint8_t>(generator());
    for (size_t start = 0; start < 16; ++start) {
        for (size_t length = 0; length <= 300; ++length) {
            ASSERT_EQ(Crc32Raw(data.data() + start, static_cast<int32_t>(length)),
                      BitwiseCrcRaw(data.data() + start, length))
                << "start " << start << " length " << length;
        }
    }
    for (int round = 0; round < 40; ++round) {
        const size_t start = generator() % 16;
        const size_t length = generator() % 40000;
        ASSERT_EQ(Crc32Raw(data.data() + start, static_cast<int32_t>(length)),
                  BitwiseCrcRaw(data.data() + start, length))
            << "start " << start << " length " << length;
    }
    // The worm region's size, as the signature table checksums it.
    EXPECT_EQ(Crc32Raw(data.data() + 3, 32768), BitwiseCrcRaw(data.data() + 3, 32768));
}

// The test inputs of the other suites rely on this forger; check it first.
TEST(ForgeCrc, PatchedRegionHasTheWantedChecksum) {
    for (uint32_t wanted : {0xD61B2860u, 0x00000000u, 0xFFFFFFFFu, 0xC3324EA7u}) {
        SCOPED_TRACE(wanted);
        Bytes data(64, 0x33);
        // Patch at the very start, in the middle and at the very end.
        for (size_t patch : {size_t{8}, size_t{20}, size_t{36}}) {
            testfiles::ForgeCrc(data, 8, 32, patch, wanted);
            EXPECT_EQ(testfiles::CrcOf(data, 8, 32), wanted);
        }
        // Bytes outside the region are left alone.
        for (size_t i = 0; i < 8; ++i) EXPECT_EQ(data[i], 0x33);
        for (size_t i = 40; i < 64; ++i) EXPECT_EQ(data[i], 0x33);
    }
}
