// The worm signature table: region checksums, the row walk, kind masks and
// section-relative anchors. Worm copies are stand-ins whose 32768-byte
// region at 4096 has been forged to the row's checksum.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "engine/exe_headers.h"
#include "engine/file_view.h"
#include "engine/signatures.h"
#include "engine/threats.h"
#include "tests/test_files.h"

using testfiles::Bytes;
using testfiles::OpenedFile;
using testfiles::PeLayout;

namespace {

constexpr uint32_t RegionOffset = 4096;
constexpr uint32_t RegionLength = 32768;
constexpr uint32_t WormFileSize = RegionOffset + RegionLength;  // 36864

const uint32_t WormCrcs[7] = {0xD61B2860u, 0xD4CE23A3u, 0x7DE2D5A8u, 0x9E845B09u,
                              0x19553F97u, 0x538C6F75u, 0xA3389807u};

// A PE image of exactly 36864 bytes whose one section covers the region.
Bytes PlainImage(uint16_t characteristics = 0x0102) {
    PeLayout layout;
    layout.characteristics = characteristics;
    layout.sections = {{0x1000, 0x9000, WormFileSize - 0x200, 0x200}};
    Bytes image = testfiles::BuildPe(layout);
    for (uint32_t i = RegionOffset; i < WormFileSize; ++i) image[i] = static_cast<uint8_t>(i * 7 + 3);
    return image;
}

Bytes WormImage(uint32_t crc, uint16_t characteristics = 0x0102) {
    Bytes image = PlainImage(characteristics);
    testfiles::ForgeCrc(image, RegionOffset, RegionLength, RegionOffset + 0x100, crc);
    return image;
}

// Sentinel for "threat name untouched": an entry no signature row names.
ThreatName Untouched() { return ElkernThreatC; }

struct Match {
    bool opened = false;
    int row = 0;
    ThreatName name = nullptr;
};

Match RunTable(const Bytes& image, const SignatureRecord* table, int rows) {
    OpenedFile file(image);
    Match m;
    m.opened = file.Ok();
    if (!m.opened) return m;
    FileView view;
    OpenFileView(&view, file.Handle());
    m.name = Untouched();
    m.row = MatchSignatureTable(&view, table, rows, &m.name);
    return m;
}

// Runs the shipped table through MatchSignatures and checks that it agrees
// with MatchSignatureTable over the same rows.
Match RunShipped(const Bytes& image) {
    const Match m = RunTable(image, SignatureTable, SignatureRowCount);
    OpenedFile file(image);
    FileView view;
    OpenFileView(&view, file.Handle());
    ThreatName name = Untouched();
    EXPECT_EQ(MatchSignatures(&view, &name), m.row != -1);
    EXPECT_EQ(name, m.name);
    return m;
}

SignatureRecord Row(uint32_t kindMask, uint32_t anchor, uint32_t firstOffset, uint32_t firstLength, uint32_t firstCrc,
                    uint32_t secondOffset, uint32_t secondLength, uint32_t secondCrc, ThreatName threat) {
    return SignatureRecord{kindMask,     anchor,       firstOffset, firstLength, firstCrc,
                           secondOffset, secondLength, secondCrc,   threat};
}

// A small PE image with two sections of distinct content at 0x400, 0x600.
Bytes AnchorImage(uint16_t sizeOfOptionalHeader = 224, int sections = 2) {
    PeLayout layout;
    layout.sizeOfOptionalHeader = sizeOfOptionalHeader;
    for (int i = 0; i < sections; ++i) {
        const auto n = static_cast<uint32_t>(i);
        layout.sections.push_back({0x1000 * (n + 1), 0x200, 0x200, 0x400 + 0x200 * n});
    }
    Bytes image = testfiles::BuildPe(layout);
    for (size_t i = 0x400; i < image.size(); ++i) image[i] = static_cast<uint8_t>(i / 0x200 * 31 + i);
    return image;
}

}  // namespace

TEST(ThreatNames, TableTextsAndIdentities) {
    const char* const texts[ThreatNameCount] = {"Win32.Klez.A@mm", "Win32.Klez.B@mm", "Win32.Klez.C@mm",
                                                "Win32.Klez.D@mm", "Win32.Klez.E@mm", "Win32.Klez.G@mm",
                                                "Win32.Klez.H@mm", "Win32.Elkern.A",  "Win32.Elkern.B",
                                                "Win32.Elkern.C"};
    for (int i = 0; i < ThreatNameCount; ++i) EXPECT_STREQ(ThreatNameTable[i].text, texts[i]) << i;
    for (int i = 0; i < 7; ++i) EXPECT_EQ(KlezThreatNames[i], &ThreatNameTable[i]) << i;
    EXPECT_EQ(ElkernThreatA, &ThreatNameTable[7]);
    EXPECT_EQ(ElkernThreatB, &ThreatNameTable[8]);
    EXPECT_EQ(ElkernThreatC, &ThreatNameTable[9]);
}

TEST(SignatureTable, SevenWormRowsOverOneRegion) {
    ASSERT_EQ(SignatureRowCount, 7);
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const SignatureRecord& r = SignatureTable[i];
        EXPECT_EQ(r.kindMask, uint32_t{KindPeImage});
        EXPECT_EQ(r.anchor, 0u);
        EXPECT_EQ(r.firstOffset, RegionOffset);
        EXPECT_EQ(r.firstLength, RegionLength);
        EXPECT_EQ(r.firstCrc, WormCrcs[i]);
        EXPECT_EQ(r.secondOffset, 0u);
        EXPECT_EQ(r.secondLength, 0u);
        EXPECT_EQ(r.secondCrc, 0u);
        EXPECT_EQ(r.threat, KlezThreatNames[i]);
    }
}

TEST(MatchSignatures, EachWormRowNamesItsVariant) {
    for (int i = 0; i < 7; ++i) {
        SCOPED_TRACE(i);
        const Match m = RunShipped(WormImage(WormCrcs[i]));
        ASSERT_TRUE(m.opened);
        EXPECT_EQ(m.row, i + 1);
        EXPECT_EQ(m.name, KlezThreatNames[i]);
    }
}

TEST(MatchSignatures, RegionMustLieWhollyInTheFile) {
    Bytes image = WormImage(0xD61B2860u);
    ASSERT_EQ(image.size(), WormFileSize);
    EXPECT_EQ(RunShipped(image).row, 1);
    Bytes shorter(image.begin(), image.end() - 1);
    const Match m = RunShipped(shorter);
    EXPECT_EQ(m.row, -1);
    EXPECT_EQ(m.name, Untouched());
    // Bytes behind the region do not matter.
    image.push_back(0x42);
    EXPECT_EQ(RunShipped(image).row, 1);
}

TEST(MatchSignatures, CleanImageLeavesTheNameAlone) {
    const Match m = RunShipped(PlainImage());
    ASSERT_TRUE(m.opened);
    EXPECT_EQ(m.row, -1);
    EXPECT_EQ(m.name, Untouched());
}

TEST(MatchSignatures, OnlyPeImagesAreLookedAt) {
    struct Case {
        const char* name;
        Bytes image;
    };
    Bytes dos = WormImage(0xD61B2860u);
    dos[0x81] = 'X';  // "PX": no new header
    Bytes ne = WormImage(0xD61B2860u);
    testfiles::PutBytes(ne, 0x80, {'N', 'E', 0, 0});
    Bytes le = WormImage(0xD61B2860u);
    testfiles::PutBytes(le, 0x80, {'L', 'E', 0, 0});
    Bytes other = WormImage(0xD61B2860u);
    other[0] = 'X';
    const Case cases[] = {
        {"dll", WormImage(0xD61B2860u, 0x2102)}, {"dos", dos}, {"ne", ne}, {"le", le}, {"other", other},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ASSERT_EQ(testfiles::CrcOf(c.image, RegionOffset, RegionLength), 0xD61B2860u);
        const Match m = RunShipped(c.image);
        ASSERT_TRUE(m.opened);
        EXPECT_EQ(m.row, -1);
        EXPECT_EQ(m.name, Untouched());
    }
}

TEST(ViewRegionChecksum, LengthZeroIsZeroWithoutTheFile) {
    FileView view;
    OpenFileView(&view, InvalidFileHandle);  // no file at all
    uint32_t checksum = 0xDEADBEEF;
    EXPECT_TRUE(ViewRegionChecksum(&view, 0x1234, 0, &checksum));
    EXPECT_EQ(checksum, 0u);
}

TEST(ViewRegionChecksum, RegionUpToTheEndOfTheFile) {
    Bytes data(100);
    for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 13);
    OpenedFile file(data);
    ASSERT_TRUE(file.Ok());
    FileView view;
    OpenFileView(&view, file.Handle());
    uint32_t checksum = 0;
    EXPECT_TRUE(ViewRegionChecksum(&view, 90, 10, &checksum));
    EXPECT_EQ(checksum, testfiles::CrcOf(data, 90, 10));
    EXPECT_TRUE(ViewRegionChecksum(&view, 0, 100, &checksum));
    EXPECT_EQ(checksum, testfiles::CrcOf(data, 0, 100));
    EXPECT_FALSE(ViewRegionChecksum(&view, 91, 10, &checksum));
    EXPECT_FALSE(ViewRegionChecksum(&view, 0, 101, &checksum));
    EXPECT_FALSE(ViewRegionChecksum(&view, 100, 1, &checksum));
    // Offsets that are negative as file positions read nothing.
    EXPECT_FALSE(ViewRegionChecksum(&view, 0x80000000u, 4, &checksum));
    EXPECT_FALSE(ViewRegionChecksum(&view, 0xFFFFFFFCu, 4, &checksum));
    // And the handle still works afterwards.
    EXPECT_TRUE(ViewRegionChecksum(&view, 10, 4, &checksum));
    EXPECT_EQ(checksum, testfiles::CrcOf(data, 10, 4));
}

TEST(MatchSignatureTable, EmptySecondRegionMatchesOnlyWithChecksumZero) {
    const Bytes image = AnchorImage();
    const uint32_t first = testfiles::CrcOf(image, 0x410, 0x20);
    const uint32_t second = testfiles::CrcOf(image, 0x500, 0x10);
    struct Case {
        const char* name;
        SignatureRecord row;
        int expected;
    };
    const Case cases[] = {
        {"second empty, crc 0", Row(4, 0, 0x410, 0x20, first, 0x500, 0, 0, KlezThreatNames[3]), 1},
        {"second empty, crc 1", Row(4, 0, 0x410, 0x20, first, 0x500, 0, 1, KlezThreatNames[3]), -1},
        {"second empty, crc ~0", Row(4, 0, 0x410, 0x20, first, 0, 0, 0xFFFFFFFFu, KlezThreatNames[3]), -1},
        {"both regions", Row(4, 0, 0x410, 0x20, first, 0x500, 0x10, second, KlezThreatNames[3]), 1},
        {"second wrong", Row(4, 0, 0x410, 0x20, first, 0x500, 0x10, second ^ 1, KlezThreatNames[3]), -1},
        {"first wrong", Row(4, 0, 0x410, 0x20, first ^ 1, 0x500, 0x10, second, KlezThreatNames[3]), -1},
        {"first empty", Row(4, 0, 0, 0, 0, 0x500, 0x10, second, KlezThreatNames[3]), 1},
        {"both empty", Row(4, 0, 0, 0, 0, 0, 0, 0, KlezThreatNames[3]), 1},
        {"second past eof", Row(4, 0, 0x410, 0x20, first, 0x800, 1, 0, KlezThreatNames[3]), -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const Match m = RunTable(image, &c.row, 1);
        ASSERT_TRUE(m.opened);
        EXPECT_EQ(m.row, c.expected);
        EXPECT_EQ(m.name, c.expected == 1 ? KlezThreatNames[3] : Untouched());
    }
}

TEST(MatchSignatureTable, KindMaskSelectsRows) {
    Bytes dos = testfiles::BuildMz(0x100, 0x80);
    Bytes ne = dos;
    testfiles::PutBytes(ne, 0x80, {'N', 'E', 0, 0});
    Bytes le = dos;
    testfiles::PutBytes(le, 0x80, {'L', 'E', 0, 0});
    const Bytes data(0x100, 0x11);
    const Bytes image = AnchorImage();
    Bytes dll = image;
    testfiles::PutLe16(dll, 0x80 + 22, 0x2102);
    struct Case {
        const char* name;
        const Bytes& image;
        uint32_t kind;
    };
    const Case cases[] = {
        {"other", data, KindOther}, {"dos", dos, KindDos}, {"image", image, KindPeImage},
        {"dll", dll, KindPeDll},    {"ne", ne, KindNe},    {"le", le, KindLe},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const uint32_t crc = testfiles::CrcOf(c.image, 8, 16);
        const SignatureRecord rows[2] = {Row(0x3F & ~c.kind, 0, 8, 16, crc, 0, 0, 0, KlezThreatNames[1]),
                                         Row(c.kind, 0, 8, 16, crc, 0, 0, 0, KlezThreatNames[2])};
        const Match m = RunTable(c.image, rows, 2);
        EXPECT_EQ(m.row, 2);
        EXPECT_EQ(m.name, KlezThreatNames[2]);
        EXPECT_EQ(RunTable(c.image, rows, 1).row, -1);
    }
}

TEST(MatchSignatureTable, FirstMatchingRowWins) {
    const Bytes image = AnchorImage();
    const uint32_t crc = testfiles::CrcOf(image, 0x400, 0x40);
    const SignatureRecord rows[3] = {Row(4, 0, 0x400, 0x40, crc ^ 1, 0, 0, 0, KlezThreatNames[0]),
                                     Row(4, 0, 0x400, 0x40, crc, 0, 0, 0, KlezThreatNames[5]),
                                     Row(4, 0, 0x400, 0x40, crc, 0, 0, 0, KlezThreatNames[6])};
    Match m = RunTable(image, rows, 3);
    EXPECT_EQ(m.row, 2);
    EXPECT_EQ(m.name, KlezThreatNames[5]);
    m = RunTable(image, rows + 2, 1);
    EXPECT_EQ(m.row, 1);
    EXPECT_EQ(m.name, KlezThreatNames[6]);
    // The row count bounds the walk.
    EXPECT_EQ(RunTable(image, rows, 1).row, -1);
    EXPECT_EQ(RunTable(image, rows, 0).row, -1);
}

TEST(MatchSignatureTable, SectionAnchorCountsFromPointerToRawData) {
    const Bytes image = AnchorImage();
    const uint32_t inSection1 = testfiles::CrcOf(image, 0x610, 0x20);
    const uint32_t inSection0 = testfiles::CrcOf(image, 0x410, 0x20);
    const uint32_t absolute = testfiles::CrcOf(image, 0x10, 0x20);
    ASSERT_NE(inSection1, inSection0);
    ASSERT_NE(inSection1, absolute);
    struct Case {
        const char* name;
        uint32_t anchor;
        uint32_t crc;
        int expected;
    };
    const Case cases[] = {
        {"section 1", 0x00010001u, inSection1, 1},  {"section 0", 0x00000001u, inSection0, 1},
        {"absolute", 0x00000000u, absolute, 1},     {"section 1, wrong", 0x00010001u, inSection0, -1},
        {"absolute, wrong", 0x00000000u, inSection1, -1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        const SignatureRecord row = Row(4, c.anchor, 0x10, 0x20, c.crc, 0, 0, 0, KlezThreatNames[4]);
        EXPECT_EQ(RunTable(image, &row, 1).row, c.expected);
    }
    // Both regions share the base.
    const uint32_t later = testfiles::CrcOf(image, 0x680, 0x8);
    const SignatureRecord both = Row(4, 0x00010001u, 0x10, 0x20, inSection1, 0x80, 0x8, later, KlezThreatNames[4]);
    EXPECT_EQ(RunTable(image, &both, 1).row, 1);
}

TEST(MatchSignatureTable, SectionIndexBeyondTheTableSkipsTheRow) {
    // Two sections: index 1 is the last entry, index 2 lies past the buffer.
    const Bytes image = AnchorImage();
    const uint32_t atBaseZero = testfiles::CrcOf(image, 0x10, 0x20);
    const uint32_t inSection1 = testfiles::CrcOf(image, 0x610, 0x20);
    const SignatureRecord rows[3] = {Row(4, 0x00020001u, 0x10, 0x20, atBaseZero, 0, 0, 0, KlezThreatNames[0]),
                                     Row(4, 0xFFFF0001u, 0x10, 0x20, atBaseZero, 0, 0, 0, KlezThreatNames[1]),
                                     Row(4, 0x00010001u, 0x10, 0x20, inSection1, 0, 0, 0, KlezThreatNames[2])};
    const Match m = RunTable(image, rows, 3);
    EXPECT_EQ(m.row, 3);
    EXPECT_EQ(m.name, KlezThreatNames[2]);
}

TEST(MatchSignatureTable, SectionAnchorFollowsSizeOfOptionalHeader) {
    // With SizeOfOptionalHeader 264 the table the anchor reads starts one
    // entry later than the fixed layout: its entry 0 is fixed entry 1
    // (data at 0x600), its entry 1 is fixed entry 2 (0x800) and exactly the
    // last one in the buffer, its entry 2 runs past the buffer.
    const Bytes image = AnchorImage(264, 3);
    const uint32_t at600 = testfiles::CrcOf(image, 0x610, 0x20);
    const uint32_t at800 = testfiles::CrcOf(image, 0x810, 0x20);
    const uint32_t atBaseZero = testfiles::CrcOf(image, 0x10, 0x20);
    const SignatureRecord index0 = Row(4, 0x00000001u, 0x10, 0x20, at600, 0, 0, 0, KlezThreatNames[0]);
    const SignatureRecord index1 = Row(4, 0x00010001u, 0x10, 0x20, at800, 0, 0, 0, KlezThreatNames[0]);
    const SignatureRecord index2 = Row(4, 0x00020001u, 0x10, 0x20, atBaseZero, 0, 0, 0, KlezThreatNames[0]);
    EXPECT_EQ(RunTable(image, &index0, 1).row, 1);
    EXPECT_EQ(RunTable(image, &index1, 1).row, 1);
    EXPECT_EQ(RunTable(image, &index2, 1).row, -1);

    // SizeOfOptionalHeader 240: entry 1 starts at 304 and its
    // PointerToRawData field (324..327) is in the 328-byte buffer, but the
    // entry as a whole is not. Entry 0 (264..303) is; both fields read 0.
    const Bytes odd = AnchorImage(240, 2);
    const uint32_t oddBaseZero = testfiles::CrcOf(odd, 0x10, 0x20);
    const SignatureRecord whole = Row(4, 0x00000001u, 0x10, 0x20, oddBaseZero, 0, 0, 0, KlezThreatNames[0]);
    const SignatureRecord partial = Row(4, 0x00010001u, 0x10, 0x20, oddBaseZero, 0, 0, 0, KlezThreatNames[0]);
    EXPECT_EQ(RunTable(odd, &whole, 1).row, 1);
    EXPECT_EQ(RunTable(odd, &partial, 1).row, -1);
}
