// The two Elkern code detectors and the detection order. Every infected
// host here is a hand-made stand-in: marker bytes in place and checksums
// forged by patching four bytes; nothing in them is executable code.
#include <gtest/gtest.h>

#include <cstdint>

#include "engine/check_context.h"
#include "engine/detectors.h"
#include "engine/file_view.h"
#include "engine/threats.h"
#include "tests/test_files.h"

using testfiles::Bytes;
using testfiles::OpenedFile;
using testfiles::PeLayout;

namespace {

constexpr uint32_t ElkernACrc = 0xC9375D61u;
constexpr uint32_t ElkernBCrc = 0xEAFB2329u;

// The host: section 0 holds the entry point, section 1 has raw data for
// only the first 0x800 of its 0x2000 bytes.
constexpr uint32_t EntryRva = 0x1100;
constexpr uint32_t EntryFile = 0x500;
constexpr uint32_t BodyRva = 0x2000;
constexpr uint32_t BodyFile = 0x1400;
constexpr uint32_t HostEnd = 0x1C00;

PeLayout HostLayout() {
    PeLayout layout;
    layout.entryPoint = EntryRva;
    layout.sections = {{0x1000, 0x1000, 0x1000, 0x400}, {0x2000, 0x2000, 0x800, 0x1400}};
    return layout;
}

Bytes Host(const PeLayout& layout = HostLayout()) {
    Bytes image = testfiles::BuildPe(layout);
    for (size_t i = 0x400; i < image.size(); ++i) image[i] = 0xCC;
    return image;
}

uint8_t RotateRight(uint8_t x, unsigned r) {
    return r == 0 ? x : static_cast<uint8_t>((x >> r) | (x << (8 - r)));
}

// Elkern.A/B: W, Q before the entry point, then CALL rel32 to the body.
void PutCall(Bytes& image, uint32_t entryFile, uint32_t entryRva, uint32_t targetRva, uint8_t opcode = 0xE8) {
    testfiles::PutBytes(image, entryFile - 2, {0x57, 0x51, opcode});
    testfiles::PutLe32(image, entryFile + 1, targetRva - entryRva - 5);
}

struct AbBody {
    uint32_t crc = ElkernACrc;
    uint8_t k1 = 0x3C;
    uint8_t rotationByte = 0x0B;  // low three bits: 3
    uint8_t k2 = 0xA7;
    uint8_t atF1 = 0x00;
    unsigned encryptRotation = 3;
};

// The 224 bytes whose decryption names the variant sit at F + 61.
void PutAbBody(Bytes& image, uint32_t f, const AbBody& body) {
    Bytes plain(224);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 5 + 1);
    testfiles::ForgeCrc(plain, 0, 224, 100, body.crc);
    testfiles::PutBytes(image, f, {0x5D, body.atF1, 0x60, 0x8D});
    image[f + 15] = body.k1;
    image[f + 18] = body.rotationByte;
    image[f + 21] = body.k2;
    for (uint32_t i = 0; i < 224; ++i) {
        image[f + 61 + i] = static_cast<uint8_t>(RotateRight(static_cast<uint8_t>(plain[i] ^ body.k2),
                                                             body.encryptRotation) ^
                                                 body.k1);
    }
}

Bytes ElkernAbHost(const AbBody& body = AbBody{}) {
    Bytes image = Host();
    PutCall(image, EntryFile, EntryRva, BodyRva);
    PutAbBody(image, BodyFile, body);
    return image;
}

struct CBody {
    uint16_t key = 0xBEEF;
    bool plainOk = true;
    Bytes marker = {0x57, 0x51};
    Bytes head = {0x60, 0x9C, 0x8B, 0xEC, 0x90};  // B[2..6]; B[2] is the byte at F
    bool firstOk = true;
    bool secondOk = true;
};

// Elkern.C: B[k] is the byte at F - 2 + k.
void PutCBody(Bytes& image, uint32_t f, const CBody& body) {
    const uint32_t b = f - 2;
    testfiles::PutBytes(image, b, body.marker);
    testfiles::PutBytes(image, b + 2, body.head);
    testfiles::PutBytes(image, b + 16, {0x11, 0x22, 0x33, 0x44, 0x55, 0x66, 0x77});
    testfiles::ForgeCrc(image, b, 11, b + 7, body.firstOk ? 0xC3324EA7u : 0xC3324EA6u);
    testfiles::ForgeCrc(image, b + 16, 11, b + 23, body.secondOk ? 0xD6CF7F28u : 0x00000000u);
    Bytes plain(120);
    for (size_t i = 0; i < plain.size(); ++i) plain[i] = static_cast<uint8_t>(i * 3 + 7);
    testfiles::PutLe16(plain, 0, 0x9C60);
    testfiles::PutLe16(plain, 10, 0x9C60);  // stores the same as the first word
    if (body.plainOk) testfiles::ForgeCrc(plain, 0, 120, 2, 0x44706677u);
    for (uint32_t j = 0; j < 60; ++j) {
        const auto word = static_cast<uint16_t>(plain[2 * j] | (plain[2 * j + 1] << 8));
        testfiles::PutLe16(image, b + 315 + 2 * j, static_cast<uint16_t>(word ^ body.key));
    }
}

// Elkern.C reached by a JMP rel32 at the entry point.
Bytes ElkernCHost(const CBody& body = CBody{}, uint32_t bodyRva = BodyRva + 0x10) {
    Bytes image = Host();
    testfiles::PutBytes(image, EntryFile, {0xE9});
    testfiles::PutLe32(image, EntryFile + 1, bodyRva - EntryRva - 5);
    PutCBody(image, BodyFile + (bodyRva - BodyRva), body);
    return image;
}

// No detector names Klez.H, so it marks a name left alone.
ThreatName Untouched() { return KlezThreatNames[6]; }

struct Outcome {
    int result = -99;
    ThreatName name = nullptr;
};

// The whole detection, as the scan runs it on a file.
Outcome Detect(const Bytes& image, Verdict (*detector)(FileCheckContext*)) {
    OpenedFile file(image);
    Outcome outcome;
    EXPECT_TRUE(file.Ok());
    if (!file.Ok()) return outcome;
    FileCheckContext context;
    context.path = file.Path().c_str();
    context.file = file.Handle();
    context.threatName = Untouched();
    outcome.result = detector(&context);
    outcome.name = context.threatName;
    return outcome;
}

// One detector on its own, over a view of the file opened for it alone.
Outcome Detect(const Bytes& image, Verdict (*detector)(FileView*, ThreatName*)) {
    OpenedFile file(image);
    Outcome outcome;
    EXPECT_TRUE(file.Ok());
    if (!file.Ok()) return outcome;
    FileView view;
    OpenFileView(&view, file.Handle());
    outcome.name = Untouched();
    outcome.result = detector(&view, &outcome.name);
    return outcome;
}

void ExpectNothing(const Outcome& o) {
    EXPECT_EQ(o.result, 0);
    EXPECT_EQ(o.name, Untouched());
}

void ExpectFound(const Outcome& o, int result, ThreatName name) {
    EXPECT_EQ(o.result, result);
    EXPECT_EQ(o.name, name);
}

}  // namespace

TEST(DetectElkernAB, ChecksumNamesTheVariant) {
    ExpectFound(Detect(ElkernAbHost(), DetectElkernAB), 1, ElkernThreatA);
    AbBody b;
    b.crc = ElkernBCrc;
    ExpectFound(Detect(ElkernAbHost(b), DetectElkernAB), 1, ElkernThreatB);
    b.crc = ElkernACrc ^ 0x80000000u;
    ExpectNothing(Detect(ElkernAbHost(b), DetectElkernAB));
    ExpectNothing(Detect(Host(), DetectElkernAB));
}

TEST(DetectElkernAB, RotationIsTheLowThreeBits) {
    struct Case {
        uint8_t stored;
        unsigned used;
        int result;
    };
    const Case cases[] = {
        {0x0B, 3, 1}, {0x03, 3, 1}, {0xFB, 3, 1}, {0x0C, 3, 0}, {0x0A, 3, 0},
        {0x00, 0, 1}, {0x08, 0, 1}, {0x07, 7, 1}, {0x01, 1, 1}, {0x01, 7, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(testing::Message() << "stored " << int{c.stored} << ", encrypted with " << c.used);
        AbBody b;
        b.rotationByte = c.stored;
        b.encryptRotation = c.used;
        const Outcome o = Detect(ElkernAbHost(b), DetectElkernAB);
        EXPECT_EQ(o.result, c.result);
        EXPECT_EQ(o.name, c.result == 1 ? ElkernThreatA : Untouched());
    }
}

TEST(DetectElkernAB, KeysAreAppliedInOrder) {
    // With r = 0 only the two XOR keys decrypt; swapping them must not work
    // once a rotation separates them.
    AbBody b;
    b.rotationByte = 0;
    b.encryptRotation = 0;
    b.k1 = 0xFF;
    b.k2 = 0x01;
    EXPECT_EQ(Detect(ElkernAbHost(b), DetectElkernAB).result, 1);
    b.rotationByte = 0x02;
    b.encryptRotation = 2;
    EXPECT_EQ(Detect(ElkernAbHost(b), DetectElkernAB).result, 1);
    Bytes swapped = ElkernAbHost(b);
    swapped[BodyFile + 15] = b.k2;
    swapped[BodyFile + 21] = b.k1;
    ExpectNothing(Detect(swapped, DetectElkernAB));
}

TEST(DetectElkernAB, ByteAfterTheBodyMarkerIsIgnored) {
    for (uint8_t value : {uint8_t{0x00}, uint8_t{0x5D}, uint8_t{0xFF}}) {
        AbBody b;
        b.atF1 = value;
        EXPECT_EQ(Detect(ElkernAbHost(b), DetectElkernAB).result, 1) << int{value};
    }
}

TEST(DetectElkernAB, EveryMarkerByteIsNeeded) {
    const uint32_t positions[] = {EntryFile - 2, EntryFile - 1, EntryFile, BodyFile, BodyFile + 2, BodyFile + 3};
    for (uint32_t position : positions) {
        SCOPED_TRACE(position);
        Bytes image = ElkernAbHost();
        image[position] = static_cast<uint8_t>(image[position] ^ 0x01);
        ExpectNothing(Detect(image, DetectElkernAB));
    }
    // A JMP in place of the CALL is not followed by this detector.
    Bytes jump = ElkernAbHost();
    jump[EntryFile] = 0xE9;
    ExpectNothing(Detect(jump, DetectElkernAB));
}

TEST(DetectElkernAB, BodyNearTheEndOfTheFile) {
    // The last byte looked at is F + 284; nothing behind it is needed.
    const uint32_t f = HostEnd - 285;
    Bytes image = Host();
    PutCall(image, EntryFile, EntryRva, BodyRva + (f - BodyFile));
    PutAbBody(image, f, AbBody{});
    ASSERT_EQ(image.size(), HostEnd);
    ASSERT_NE(image.back(), 0);
    ExpectFound(Detect(image, DetectElkernAB), 1, ElkernThreatA);
    image.pop_back();
    ExpectNothing(Detect(image, DetectElkernAB));
}

TEST(DetectElkernC, JumpOrEntryPointLeadsToTheBody) {
    // Forward and backward jumps.
    ExpectFound(Detect(ElkernCHost(), DetectElkernC), 1, ElkernThreatC);
    Bytes backward = Host();
    testfiles::PutBytes(backward, EntryFile, {0xE9});
    testfiles::PutLe32(backward, EntryFile + 1, 0x1040u - EntryRva - 5);
    PutCBody(backward, 0x440, CBody{});
    ExpectFound(Detect(backward, DetectElkernC), 1, ElkernThreatC);
    // Without a jump the body starts at the entry point itself.
    Bytes direct = Host();
    PutCBody(direct, EntryFile, CBody{});
    ExpectFound(Detect(direct, DetectElkernC), 1, ElkernThreatC);
    // A CALL at the entry point is not followed: the checks run at E.
    Bytes call = Host();
    testfiles::PutBytes(call, EntryFile, {0xE8});
    testfiles::PutLe32(call, EntryFile + 1, BodyRva + 0x10 - EntryRva - 5);
    PutCBody(call, BodyFile + 0x10, CBody{});
    ExpectNothing(Detect(call, DetectElkernC));
}

TEST(DetectElkernC, EachMarkerTestIsNeeded) {
    CBody body;
    body.marker = {0x57, 0x50};  // the first checksum is forged over the wrong marker
    ExpectNothing(Detect(ElkernCHost(body), DetectElkernC));
    body = CBody{};
    body.firstOk = false;
    ExpectNothing(Detect(ElkernCHost(body), DetectElkernC));
    body = CBody{};
    body.secondOk = false;
    ExpectNothing(Detect(ElkernCHost(body), DetectElkernC));
}

TEST(DetectElkernC, UnknownPayloadIsAWarningNamedElkernC) {
    CBody body;
    body.plainOk = false;
    ExpectFound(Detect(ElkernCHost(body), DetectElkernC), 5, ElkernThreatC);
}

TEST(DetectElkernC, KeyComesFromTheFirstStoredWord) {
    // Key 0x9C60 stores the first word as 0x0000; key 0 stores it plain.
    for (uint16_t key : {uint16_t{0x0000}, uint16_t{0x9C60}, uint16_t{0xBEEF}, uint16_t{0xFFFF}, uint16_t{0x0001}}) {
        CBody body;
        body.key = key;
        ExpectFound(Detect(ElkernCHost(body), DetectElkernC), 1, ElkernThreatC);
    }
}

TEST(DetectElkernC, BodyNearTheEndOfTheFile) {
    // The last byte looked at is F + 432.
    const uint32_t f = HostEnd - 433;
    Bytes image = ElkernCHost(CBody{}, BodyRva + (f - BodyFile));
    ASSERT_EQ(image.size(), HostEnd);
    ASSERT_NE(image.back(), 0);
    ExpectFound(Detect(image, DetectElkernC), 1, ElkernThreatC);
    image.pop_back();
    ExpectFound(Detect(image, DetectElkernC), 5, ElkernThreatC);
}

TEST(Detectors, AddressesWithoutFileBytesFindNothing) {
    // 0x2900 lies in section 1 beyond its raw data, so it maps to file
    // offset 0. A complete body sits where raw data would continue, to
    // catch a mapping that ignores SizeOfRawData.
    const uint32_t pastRawRva = 0x2900;
    const uint32_t pastRawFile = BodyFile + 0x900;
    Bytes ab = Host();
    PutCall(ab, EntryFile, EntryRva, pastRawRva);
    PutAbBody(ab, pastRawFile, AbBody{});
    ExpectNothing(Detect(ab, DetectElkernAB));
    Bytes c = Host();
    testfiles::PutBytes(c, EntryFile, {0xE9});
    testfiles::PutLe32(c, EntryFile + 1, pastRawRva - EntryRva - 5);
    PutCBody(c, pastRawFile, CBody{});
    ExpectNothing(Detect(c, DetectElkernC));
    // Targets and entry points outside every section.
    Bytes outside = ElkernAbHost();
    testfiles::PutLe32(outside, EntryFile + 1, 0x9000u - EntryRva - 5);
    ExpectNothing(Detect(outside, DetectElkernAB));
    PeLayout layout = HostLayout();
    for (uint32_t entry : {0x5000u, 0x2900u, 0u}) {
        SCOPED_TRACE(entry);
        layout.entryPoint = entry;
        Bytes image = Host(layout);
        PutCBody(image, BodyFile + 0x10, CBody{});
        ExpectNothing(Detect(image, DetectElkernC));
        ExpectNothing(Detect(image, DetectElkernAB));
    }
}

TEST(Detectors, TargetArithmeticWrapsAt32Bits) {
    // The entry point lies in a section near the top of the address space
    // and a positive displacement wraps around to the body at 0x1000.
    PeLayout layout;
    layout.entryPoint = 0xFFFFE100u;
    layout.sections = {{0x1000, 0x1000, 0x800, 0x400}, {0xFFFFE000u, 0x1000, 0x200, 0xC00}};
    const uint32_t entryFile = 0xD00;
    Bytes ab = Host(layout);
    PutCall(ab, entryFile, layout.entryPoint, 0x1000);
    ASSERT_LT(ab[entryFile + 4], 0x80);  // the displacement is positive
    PutAbBody(ab, 0x400, AbBody{});
    ExpectFound(Detect(ab, DetectElkernAB), 1, ElkernThreatA);

    Bytes c = Host(layout);
    testfiles::PutBytes(c, entryFile, {0xE9});
    testfiles::PutLe32(c, entryFile + 1, 0x1010u - layout.entryPoint - 5);
    PutCBody(c, 0x410, CBody{});
    ExpectFound(Detect(c, DetectElkernC), 1, ElkernThreatC);
}

TEST(Detectors, OnlyPeImagesAreExamined) {
    // Complete infections, then the header turned into a DLL, an NE
    // program and a file that is not MZ.
    const Bytes ab = ElkernAbHost();
    const Bytes c = ElkernCHost();
    ASSERT_EQ(Detect(ab, DetectThreat).result, 1);
    ASSERT_EQ(Detect(c, DetectThreat).result, 1);
    for (const Bytes* infected : {&ab, &c}) {
        Bytes dll = *infected;
        testfiles::PutLe16(dll, 0x80 + 22, 0x2102);
        Bytes ne = *infected;
        testfiles::PutBytes(ne, 0x80, {'N', 'E', 0, 0});
        Bytes other = *infected;
        other[1] = 'X';
        for (const Bytes* image : {&dll, &ne, &other}) {
            ExpectNothing(Detect(*image, DetectElkernAB));
            ExpectNothing(Detect(*image, DetectElkernC));
            ExpectNothing(Detect(*image, DetectThreat));
        }
    }
}

TEST(DetectThreat, SignatureTableComesFirst) {
    // The region at 4096 is section 1; the entry point and the Elkern.A
    // body lie outside it.
    PeLayout layout;
    layout.entryPoint = EntryRva;
    layout.sections = {{0x1000, 0x1000, 0xC00, 0x400}, {0x2000, 0x8000, 0x8000, 0x1000}, {0xA000, 0x1000, 0x400, 0x9000}};
    Bytes image = Host(layout);
    PutCall(image, EntryFile, EntryRva, 0xA000);
    PutAbBody(image, 0x9000, AbBody{});
    ExpectFound(Detect(image, DetectThreat), 1, ElkernThreatA);
    testfiles::ForgeCrc(image, 4096, 32768, 0x2000, 0x9E845B09u);
    ExpectFound(Detect(image, DetectElkernAB), 1, ElkernThreatA);
    ExpectFound(Detect(image, DetectThreat), 1, KlezThreatNames[3]);
}

TEST(DetectThreat, ElkernCComesBeforeElkernAB) {
    // One body serves both detectors: the Elkern.C body starts at the entry
    // point, and its bytes there are the CALL that leads to an Elkern.A body.
    const uint32_t disp = BodyRva - EntryRva - 5;
    CBody c;
    c.head = {0xE8, static_cast<uint8_t>(disp), static_cast<uint8_t>(disp >> 8), static_cast<uint8_t>(disp >> 16),
              static_cast<uint8_t>(disp >> 24)};
    c.plainOk = false;
    Bytes image = Host();
    PutAbBody(image, BodyFile, AbBody{});
    PutCBody(image, EntryFile, c);
    ExpectFound(Detect(image, DetectElkernAB), 1, ElkernThreatA);
    ExpectFound(Detect(image, DetectElkernC), 5, ElkernThreatC);
    ExpectFound(Detect(image, DetectThreat), 5, ElkernThreatC);

    c.plainOk = true;
    image = Host();
    PutAbBody(image, BodyFile, AbBody{});
    PutCBody(image, EntryFile, c);
    ExpectFound(Detect(image, DetectThreat), 1, ElkernThreatC);

    c.secondOk = false;
    image = Host();
    PutAbBody(image, BodyFile, AbBody{});
    PutCBody(image, EntryFile, c);
    ExpectNothing(Detect(image, DetectElkernC));
    ExpectFound(Detect(image, DetectThreat), 1, ElkernThreatA);
}

TEST(DetectThreat, CleanAndHostileFilesAreClean) {
    Bytes hugeCount = Host();
    testfiles::PutLe16(hugeCount, 0x80 + 6, 0xFFFF);
    Bytes lfanewAtEnd = testfiles::BuildMz(0x100, 0x100 - 3);
    testfiles::PutBytes(lfanewAtEnd, 0xFD, {'P', 'E', 0});
    Bytes lfanewHuge = ElkernAbHost();
    testfiles::PutLe32(lfanewHuge, 60, 0x7FFFFFFFu);
    Bytes lfanewNegative = ElkernAbHost();
    testfiles::PutLe32(lfanewNegative, 60, 0xFFFFFFC0u);
    Bytes sectionsPastHeaders = Host();
    testfiles::PutLe16(sectionsPastHeaders, 0x80 + 6, 40);  // table runs into raw data, present
    struct Case {
        const char* name;
        const Bytes& image;
    };
    const Bytes empty;
    const Bytes host = Host();
    const Case cases[] = {
        {"empty", empty},
        {"clean host", host},
        {"NumberOfSections 0xFFFF", hugeCount},
        {"e_lfanew at EOF - 3", lfanewAtEnd},
        {"e_lfanew 0x7FFFFFFF", lfanewHuge},
        {"e_lfanew negative", lfanewNegative},
        {"section table over raw data", sectionsPastHeaders},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        ExpectNothing(Detect(c.image, DetectThreat));
    }
}
