// The repair and the block-chain wipe on hand-laid images: what is zeroed,
// what is left alone, and that nothing is written outside the file's bytes.
#include <gtest/gtest.h>

#include <cstddef>
#include <initializer_list>
#include <string>
#include <utility>
#include <vector>

#include "engine/detectors.h"
#include "scan/repair.h"
#include "tests/support/synth.h"
#include "tests/test_files.h"

namespace {

using synth::Bytes;

// Section 0 at RVA 0x1000 with 0x2000 raw bytes at file offset 0x400 (all
// 0xAA, so zeroed bytes show), section 1 right behind it (all 0xBB).
constexpr uint32_t SectionRva = 0x1000;
constexpr uint32_t SectionRaw = 0x400;
constexpr uint32_t SectionSize = 0x2000;

Bytes TwoSectionImage(uint32_t firstSize = SectionSize) {
    synth::PeSpec spec;
    synth::PeSection first;
    first.data.assign(firstSize, 0xAA);
    first.virtualAddress = SectionRva;
    first.pointerToRawData = SectionRaw;
    synth::PeSection second;
    second.data.assign(0x200, 0xBB);
    spec.sections = {first, second};
    spec.entryPoint = SectionRva;
    return synth::BuildPe(spec);
}

uint32_t OffsetOf(uint32_t rva) { return SectionRaw + (rva - SectionRva); }

void PutBlock(Bytes& image, uint32_t rva, uint32_t next, uint32_t secondWord) {
    synth::PutLe32(image, OffsetOf(rva) - 8, next);
    synth::PutLe32(image, OffsetOf(rva) - 4, secondWord);
}

uint32_t Header(uint16_t length) { return 0x51570000u | length; }

// Runs WipeBlockChain from rva on a file holding image; returns the file.
Bytes Wipe(const Bytes& image, uint32_t rva) {
    testfiles::OpenedFile file(image, OpenMode::ReadWrite);
    EXPECT_TRUE(file.Ok());
    HeaderBuffers headers;
    EXPECT_TRUE(ReadExecutableHeaders(KindPeImage, file.Handle(), &headers.dosHeader, &headers.peHeaders));
    FileCheckContext context;
    context.file = file.Handle();
    uint8_t buffer[1024];
    WipeBlockChain(rva, &context, headers.peHeaders, buffer);
    file.Close();
    return file.ReadBack();
}

// image with count bytes from each given file offset set to zero: what a
// wipe must leave, byte for byte.
Bytes Zeroed(Bytes image, std::initializer_list<std::pair<uint32_t, uint32_t>> ranges) {
    for (const auto& range : ranges) {
        for (uint32_t i = 0; i < range.second; ++i) image[range.first + i] = 0;
    }
    return image;
}

bool ZeroRange(const Bytes& image, uint32_t from, uint32_t count) {
    for (uint32_t i = 0; i < count; ++i) {
        if (image[from + i] != 0) return false;
    }
    return true;
}

TEST(WipeBlockChain, ZeroLengthBlockClearsOnlyItsHeader) {
    Bytes image = TwoSectionImage();
    PutBlock(image, 0x1100, 0, Header(0));
    const Bytes after = Wipe(image, 0x1100);
    ASSERT_EQ(after.size(), image.size());
    EXPECT_EQ(after, Zeroed(image, {{OffsetOf(0x1100) - 8, 8}}));
}

TEST(WipeBlockChain, LongBlockIsClearedWholeAndNotOneByteMore) {
    Bytes image = TwoSectionImage();
    PutBlock(image, 0x1010, 0, Header(2500));
    const Bytes after = Wipe(image, 0x1010);
    EXPECT_TRUE(ZeroRange(after, OffsetOf(0x1010) - 8, 8 + 2500));
    EXPECT_EQ(after[OffsetOf(0x1010) + 2500], 0xAA);
    EXPECT_EQ(after[OffsetOf(0x1010) - 9], 0xAA);
}

TEST(WipeBlockChain, MarkerHalfOfTheSecondWordIsIgnored) {
    Bytes image = TwoSectionImage();
    PutBlock(image, 0x1200, 0, 0x51570010u);
    PutBlock(image, 0x1400, 0, 0x12340010u);  // no marker: still 16 bytes
    Bytes after = Wipe(image, 0x1200);
    EXPECT_TRUE(ZeroRange(after, OffsetOf(0x1200), 16));
    EXPECT_EQ(after[OffsetOf(0x1200) + 16], 0xAA);
    after = Wipe(image, 0x1400);
    EXPECT_TRUE(ZeroRange(after, OffsetOf(0x1400), 16));
    EXPECT_EQ(after[OffsetOf(0x1400) + 16], 0xAA);
}

TEST(WipeBlockChain, ChainOfThreeBlocksLeavesTheBytesBetweenThem) {
    Bytes image = TwoSectionImage();
    PutBlock(image, 0x1100, 0x1800, Header(32));
    PutBlock(image, 0x1800, 0x1400, Header(64));
    PutBlock(image, 0x1400, 0, Header(16));
    const Bytes after = Wipe(image, 0x1100);
    // Only the headers and data of the three blocks change.
    EXPECT_EQ(after, Zeroed(image, {{OffsetOf(0x1100) - 8, 8 + 32},
                                    {OffsetOf(0x1800) - 8, 8 + 64},
                                    {OffsetOf(0x1400) - 8, 8 + 16}}));
}

TEST(WipeBlockChain, ChainThatComesBackToABlockEnds) {
    Bytes image = TwoSectionImage();
    PutBlock(image, 0x1100, 0x1200, Header(4));
    PutBlock(image, 0x1200, 0x1100, Header(4));
    PutBlock(image, 0x1300, 0x1300, Header(4));  // a block that names itself
    Bytes after = Wipe(image, 0x1100);
    EXPECT_EQ(after.size(), image.size());
    EXPECT_TRUE(ZeroRange(after, OffsetOf(0x1200) - 8, 12));
    after = Wipe(image, 0x1300);
    EXPECT_TRUE(ZeroRange(after, OffsetOf(0x1300) - 8, 12));
}

TEST(WipeBlockChain, NeverWritesOutsideTheBlocksSection) {
    // Data that would run past the section's raw data into the next section.
    Bytes image = TwoSectionImage();
    const uint32_t lastRva = SectionRva + SectionSize - 16;
    PutBlock(image, lastRva, 0, Header(100));
    Bytes after = Wipe(image, lastRva);
    EXPECT_EQ(after, Zeroed(image, {{OffsetOf(lastRva) - 8, 8 + 16}})) << "next section untouched";

    // A block at the very start of a section has its header outside it.
    image = TwoSectionImage();
    synth::PutLe32(image, SectionRaw - 4, Header(8));
    after = Wipe(image, SectionRva);
    EXPECT_EQ(after, image);

    // An address with no stored bytes or in no section: nothing happens.
    EXPECT_EQ(Wipe(image, 0x900000), image);
}

TEST(WipeBlockChain, NeverExtendsAFileCutShortInsideItsSection) {
    Bytes image = TwoSectionImage();
    const uint32_t rva = 0x1F00;
    PutBlock(image, rva, 0, Header(0x200));
    image.resize(OffsetOf(rva) + 0x40);  // the section's raw data now runs past the end
    const Bytes after = Wipe(image, rva);
    ASSERT_EQ(after.size(), image.size());
    EXPECT_TRUE(ZeroRange(after, OffsetOf(rva) - 8, 8 + 0x40));
}

// The wipe follows a chain for at most 4,096 blocks. Back to back, each block
// only its header naming the next: at the cap the last header goes too, one
// past it the block beyond the cap keeps its header.
TEST(WipeBlockChain, ChainIsFollowedUpToItsCapAndNoFurther) {
    constexpr uint32_t Cap = 4096;
    struct Row {
        uint32_t blocks;
        uint32_t wiped;
    };
    for (const Row row : {Row{Cap, Cap}, Row{Cap + 1, Cap}}) {
        SCOPED_TRACE(row.blocks);
        Bytes image = TwoSectionImage(8 * (Cap + 2));
        for (uint32_t k = 0; k < row.blocks; ++k) {
            const uint32_t rva = SectionRva + 8 * (k + 1);
            PutBlock(image, rva, k + 1 < row.blocks ? rva + 8 : 0, Header(0));
        }
        EXPECT_EQ(Wipe(image, SectionRva + 8), Zeroed(image, {{SectionRaw, 8 * row.wiped}}));
    }
}

// A next address that maps exactly to the end of a file cut short names no
// block: the file's last eight bytes are no header of it. One byte earlier
// the block is there, with its header and its one stored byte.
TEST(WipeBlockChain, NextBlockAtTheVeryEndOfTheFileEndsTheChain) {
    Bytes image = TwoSectionImage();
    const uint32_t end = OffsetOf(0x1800);
    image.resize(end);
    PutBlock(image, 0x1100, 0x1800, Header(4));
    EXPECT_EQ(Wipe(image, 0x1100), Zeroed(image, {{OffsetOf(0x1100) - 8, 12}}));

    PutBlock(image, 0x1100, 0x17FF, Header(4));
    PutBlock(image, 0x17FF, 0, Header(4));
    EXPECT_EQ(Wipe(image, 0x1100), Zeroed(image, {{OffsetOf(0x1100) - 8, 12}, {end - 9, 9}}));
}

// ---------------------------------------------------------------- RepairFile

struct RepairRun {
    int result;
    Bytes after;
};

RepairRun Repair(const Bytes& image, ThreatName threat, RepairResult (*repair)(FileCheckContext*) = RepairFile) {
    testfiles::OpenedFile file(image, OpenMode::ReadWrite);
    EXPECT_TRUE(file.Ok());
    FileCheckContext context;
    context.file = file.Handle();
    context.threatName = threat;
    const int result = repair(&context);
    file.Close();
    return {result, file.ReadBack()};
}

uint32_t FileOffset(const Bytes& image, uint32_t rva) {
    uint32_t offset = 0;
    EXPECT_TRUE(synth::MapRva(image, rva, &offset));
    return offset;
}

TEST(RepairFile, WormEntryMeansDeleteAndTouchesNothing) {
    const synth::Sample worm = synth::MakeWormCopy(5, 51);
    const RepairRun run = Repair(worm.bytes, KlezThreatNames[5]);
    EXPECT_EQ(run.result, RepairDeleteFile);
    EXPECT_EQ(run.after, worm.bytes);
}

TEST(RepairFile, ElkernCWithoutJumpIsRepairedFromTheEntryPointItself) {
    const synth::Sample host = synth::MakeElkernC(false, 52);
    ASSERT_EQ(host.layers.size(), 1u);
    EXPECT_EQ(synth::PeEntryPoint(host.bytes), host.layers[0].chainStart);
    const RepairRun run = Repair(host.bytes, ElkernThreatC);
    EXPECT_EQ(run.result, RepairDone);
    EXPECT_EQ(run.after, host.clean);
}

TEST(RepairFile, RestoredEntryPointWithoutBytesLeavesTheFileUntouched) {
    synth::Sample host = synth::MakeElkernC(true, 53);
    const uint32_t body = FileOffset(host.bytes, host.layers[0].chainStart);
    synth::PutLe32(host.bytes, body + 58, 0x7FFF0000u);  // in no section
    const RepairRun run = Repair(host.bytes, ElkernThreatC);
    EXPECT_EQ(run.result, RepairBodyNotFound);
    EXPECT_EQ(run.after, host.bytes);
}

// Writes value as the decoded 32-bit field at offset of an Elkern.A/B body,
// encoding it with the body's own keys (the inverse of the decoding).
void PutEncodedLe32(synth::Bytes& image, uint32_t body, uint32_t offset, uint32_t value) {
    const uint8_t key1 = image[body + 15];
    const unsigned rotation = image[body + 18] & 7u;
    const uint8_t key2 = image[body + 21];
    for (uint32_t i = 0; i < 4; ++i) {
        const unsigned x = static_cast<uint8_t>(static_cast<uint8_t>(value >> (8 * i)) ^ key2);
        const unsigned rotated = ((x >> rotation) | (x << ((8u - rotation) & 7u))) & 0xFFu;
        image[body + offset + i] = static_cast<uint8_t>(rotated ^ key1);
    }
}

TEST(RepairFile, AbRestoresASavedEntryPointThatHasNoStoredBytes) {
    for (const char variant : {'A', 'B'}) {
        SCOPED_TRACE(variant);
        synth::Sample host = synth::MakeElkernAB(variant, 3, 57);
        const uint32_t entry = synth::PeEntryPoint(host.bytes);
        const uint32_t call = FileOffset(host.bytes, entry);
        const uint32_t target = entry + 5 + synth::GetLe32(host.bytes, call + 1);
        const uint32_t body = FileOffset(host.bytes, target);
        // Outside the checksummed 224 bytes, so the variant stays the same.
        const uint32_t saved = variant == 'A' ? 390 : 382;
        for (const uint32_t restored : {0x7FFF0000u, 0u}) {
            SCOPED_TRACE(restored);
            PutEncodedLe32(host.bytes, body, saved, restored);
            uint32_t unused = 0;
            ASSERT_FALSE(synth::MapRva(host.bytes, restored, &unused));
            const RepairRun run = Repair(host.bytes, variant == 'A' ? ElkernThreatA : ElkernThreatB);
            EXPECT_EQ(run.result, RepairDone);
            EXPECT_EQ(synth::PeEntryPoint(run.after), restored);
            // The body is wiped as for any other host.
            testfiles::OpenedFile file(run.after, OpenMode::Read);
            FileCheckContext context;
            context.file = file.Handle();
            EXPECT_EQ(DetectThreat(&context), 0);
            EXPECT_EQ(run.after.size(), host.bytes.size());
        }
    }
}

TEST(RepairFile, AbChecksumOfNeitherVariantLeavesTheFileUntouched) {
    synth::Sample host = synth::MakeElkernAB('A', 5, 54);
    const uint32_t entry = synth::PeEntryPoint(host.bytes);
    const uint32_t call = FileOffset(host.bytes, entry);
    const uint32_t target = entry + 5 + synth::GetLe32(host.bytes, call + 1);
    const uint32_t body = FileOffset(host.bytes, target);
    host.bytes[body + 100] ^= 0x01;  // inside the checksummed 224 bytes
    const RepairRun run = Repair(host.bytes, ElkernThreatA);
    EXPECT_EQ(run.result, RepairBodyNotFound);
    EXPECT_EQ(run.after, host.bytes);
}

TEST(RepairFile, AbBodyCutShortOfItsEncodedPartIsNotRepaired) {
    const synth::Sample host = synth::MakeElkernAB('B', 1, 55);
    const uint32_t entry = synth::PeEntryPoint(host.bytes);
    const uint32_t call = FileOffset(host.bytes, entry);
    const uint32_t target = entry + 5 + synth::GetLe32(host.bytes, call + 1);
    const uint32_t body = FileOffset(host.bytes, target);
    if (call > body) GTEST_SKIP() << "layout puts the entry block behind the body";

    const std::ptrdiff_t bodyEnd = static_cast<std::ptrdiff_t>(body) + 61 + 512;
    Bytes cut(host.bytes.begin(), host.bytes.begin() + bodyEnd - 1);
    RepairRun run = Repair(cut, ElkernThreatB);
    EXPECT_EQ(run.result, RepairBodyNotFound);
    EXPECT_EQ(run.after, cut);

    Bytes whole(host.bytes.begin(), host.bytes.begin() + bodyEnd);
    run = Repair(whole, ElkernThreatB);
    EXPECT_EQ(run.result, RepairDone);
    EXPECT_EQ(run.after.size(), whole.size()) << "a repair never changes the size";
}

TEST(RepairFile, EntryPointWithoutStoredBytesLeavesTheFileUntouched) {
    // The entry point lies in the section's virtual tail, which has no bytes
    // in the file: there is nothing to restore from.
    synth::PeSpec spec;
    synth::PeSection section;
    section.data.assign(SectionSize, 0xAA);
    section.virtualAddress = SectionRva;
    section.virtualSize = SectionSize + 0x1000;
    spec.sections = {section};
    spec.entryPoint = SectionRva + SectionSize;
    const Bytes image = synth::BuildPe(spec);
    for (ThreatName threat : {ElkernThreatA, ElkernThreatB, ElkernThreatC}) {
        const RepairRun run = Repair(image, threat);
        EXPECT_EQ(run.result, RepairBodyNotFound) << threat->text;
        EXPECT_EQ(run.after, image) << threat->text;
    }
}

TEST(RepairFile, RepairedHostIsNoLongerFoundWhereItWas) {
    const synth::Sample host = synth::MakeElkernAB('A', 0, 56);
    const RepairRun run = Repair(host.bytes, ElkernThreatA);
    ASSERT_EQ(run.result, RepairDone);
    testfiles::OpenedFile file(run.after, OpenMode::Read);
    FileCheckContext context;
    context.file = file.Handle();
    EXPECT_EQ(DetectThreat(&context), 0);
}

}  // namespace
