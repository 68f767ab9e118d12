// Self-tests of the sample synthesizer, independent of the engine: if these
// pass and a corpus test fails, the engine is the one to look at.
#include "tests/support/synth.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>

namespace {

using synth::Bytes;
using synth::Sample;

Bytes Ascii(const char* text) { return Bytes(text, text + std::char_traits<char>::length(text)); }

Bytes RandomBytes(size_t size, uint32_t seed) {
    synth::Rng rng(seed);
    Bytes data(size);
    rng.Fill(data.data(), data.size());
    return data;
}

// ------------------------------------------------------------ checksum

TEST(SynthCrc, ReferenceValues) {
    EXPECT_EQ(synth::Crc32Raw(nullptr, 0), 0xFFFFFFFFu);
    const Bytes abc = Ascii("abc");
    EXPECT_EQ(synth::Crc32Raw(abc, 0, abc.size()), 0xCADBBE3Du);
    const Bytes digits = Ascii("123456789");
    EXPECT_EQ(synth::Crc32Raw(digits, 0, digits.size()), 0x340BC6D9u);
    // One table entry each way: a single zero byte and a single 0xFF byte.
    const Bytes zero = {0x00};
    const Bytes ff = {0xFF};
    EXPECT_EQ(synth::Crc32Raw(zero, 0, 1), 0x2DFD1072u);
    EXPECT_EQ(synth::Crc32Raw(ff, 0, 1), 0x00FFFFFFu);
}

TEST(SynthCrc, ForgeHitsTargetAtEveryPatchPlace) {
    synth::Rng targets(99);
    struct Case {
        size_t dataSize, regionOffset, regionLength, patchFromRegion;
    };
    // Patch at the first and the last possible place, in the middle, and a
    // region of exactly four bytes.
    const Case cases[] = {
        {64, 10, 4, 0},
        {64, 10, 11, 0},
        {64, 10, 11, 7},
        {64, 0, 64, 60},
        {64, 0, 64, 30},
        {40000, 4096, 32768, 0},
        {40000, 4096, 32768, 32764},
    };
    for (const Case& c : cases) {
        for (int round = 0; round < 3; ++round) {
            Bytes data =
                RandomBytes(c.dataSize, static_cast<uint32_t>(c.patchFromRegion * 7 + static_cast<size_t>(round)));
            const Bytes before = data;
            const uint32_t target = round == 0 ? 0 : targets.Next32();
            const size_t patch = c.regionOffset + c.patchFromRegion;
            ASSERT_TRUE(synth::ForgeCrc(data, c.regionOffset, c.regionLength, patch, target));
            EXPECT_EQ(synth::Crc32Raw(data.data() + c.regionOffset, c.regionLength), target);
            for (size_t i = 0; i < data.size(); ++i) {
                if (i < patch || i >= patch + 4) {
                    ASSERT_EQ(data[i], before[i]) << "byte " << i << " outside the patch";
                }
            }
        }
    }
}

TEST(SynthCrc, ForgeRefusesPatchOrRegionOutOfRange) {
    Bytes data = RandomBytes(64, 5);
    const Bytes before = data;
    EXPECT_FALSE(synth::ForgeCrc(data, 10, 11, 18, 1));  // last patch byte one past the region
    EXPECT_FALSE(synth::ForgeCrc(data, 10, 11, 9, 1));   // starts one before the region
    EXPECT_FALSE(synth::ForgeCrc(data, 10, 3, 10, 1));   // region shorter than the patch
    EXPECT_FALSE(synth::ForgeCrc(data, 60, 5, 60, 1));   // region one past the data
    EXPECT_EQ(data, before);
    EXPECT_TRUE(synth::ForgeCrc(data, 60, 4, 60, 1));  // ends exactly at the data's end
    EXPECT_EQ(synth::Crc32Raw(data, 60, 4), 1u);
}

// ------------------------------------------------------------ PE writer

TEST(SynthPe, SectionsLandWhereResolvedAndMapLikeTheEngine) {
    synth::PeSpec spec;
    synth::PeSection text;
    text.name = ".text";
    text.data = RandomBytes(0x400, 1);
    text.virtualSize = 0x500;  // 0x100 bytes of the section have no file bytes
    synth::PeSection data;
    data.name = ".data";
    data.data = RandomBytes(0x123, 2);
    spec.sections = {text, data};
    const synth::PeSpec resolved = synth::ResolvePe(spec);
    spec.entryPoint = resolved.sections[0].virtualAddress + 0x10;
    const Bytes image = synth::BuildPe(spec);

    ASSERT_EQ(resolved.sections[0].virtualAddress, 0x1000u);
    ASSERT_EQ(resolved.sections[0].pointerToRawData, 0x200u);
    ASSERT_EQ(resolved.sections[1].virtualAddress, 0x2000u);
    ASSERT_EQ(resolved.sections[1].pointerToRawData, 0x600u);
    EXPECT_EQ(resolved.sections[1].sizeOfRawData, 0x200u);
    EXPECT_EQ(image.size(), 0x800u);
    EXPECT_EQ(image[0], 'M');
    EXPECT_EQ(image[1], 'Z');
    EXPECT_EQ(synth::PeLfanew(image), synth::DefaultLfanew);
    EXPECT_EQ(synth::GetLe32(image, 0x80), 0x00004550u);
    EXPECT_EQ(synth::GetLe16(image, 0x80 + 24), 0x010Bu);
    EXPECT_EQ(synth::GetLe16(image, 0x80 + 22) & synth::ImageFileDll, 0);
    EXPECT_EQ(synth::PeEntryPoint(image), 0x1010u);
    EXPECT_TRUE(std::equal(text.data.begin(), text.data.end(), image.begin() + 0x200));
    EXPECT_TRUE(std::equal(data.data.begin(), data.data.end(), image.begin() + 0x600));

    uint32_t offset = 0;
    EXPECT_TRUE(synth::MapRva(image, 0x13FF, &offset));
    EXPECT_EQ(offset, 0x5FFu);
    EXPECT_FALSE(synth::MapRva(image, 0x1400, &offset));  // inside VirtualSize, past the raw data
    EXPECT_FALSE(synth::MapRva(image, 0x1500, &offset));  // past VirtualSize
    EXPECT_TRUE(synth::MapRva(image, 0x2122, &offset));
    EXPECT_EQ(offset, 0x722u);
    EXPECT_FALSE(synth::MapRva(image, 0x2123, &offset));

    spec.dll = true;
    spec.sizeOfOptionalHeader = 240;
    const Bytes dll = synth::BuildPe(spec);
    EXPECT_NE(synth::GetLe16(dll, 0x80 + 22) & synth::ImageFileDll, 0);
    EXPECT_EQ(synth::GetLe16(dll, 0x80 + 20), 240u);
    EXPECT_EQ(dll[0x80 + 24 + 240], '.');  // the table follows the stated size
    EXPECT_TRUE(synth::MapRva(dll, 0x1000, &offset));
}

TEST(SynthFiles, KindsCarryTheirHeaders) {
    for (uint32_t size : {0u, 1u, 63u, 64u, 200u}) {
        EXPECT_EQ(synth::MakeFile(synth::FileKind::Ne, size, 3).size(), size);
    }
    const Bytes zm = synth::MakeFile(synth::FileKind::ZmDos, 100, 1);
    EXPECT_EQ(zm[0], 'Z');
    EXPECT_EQ(zm[1], 'M');
    const Bytes mz = synth::MakeFile(synth::FileKind::MzDos, 64, 1);
    EXPECT_EQ(mz[0], 'M');
    EXPECT_GE(synth::GetLe32(mz, 60), 64u);  // no new header inside the file
    const Bytes ne = synth::MakeFile(synth::FileKind::Ne, 300, 1);
    EXPECT_EQ(synth::GetLe32(ne, synth::GetLe32(ne, 60)), 0x0000454Eu);
    const Bytes le = synth::MakeFile(synth::FileKind::Le, 300, 1);
    EXPECT_EQ(synth::GetLe32(le, synth::GetLe32(le, 60)), 0x0000454Cu);
    const Bytes bad = synth::MakeFile(synth::FileKind::NeBadTail, 300, 1);
    const uint32_t lfanew = synth::GetLe32(bad, 60);
    EXPECT_EQ(synth::GetLe16(bad, lfanew), 0x454Eu);
    EXPECT_NE(bad[lfanew + 2], 0);
    EXPECT_NE(bad[lfanew + 3], 0);
    for (uint32_t seed = 0; seed < 300; ++seed) {
        const Bytes random = synth::MakeFile(synth::FileKind::Random, 2, seed);
        EXPECT_FALSE((random[0] == 'M' && random[1] == 'Z') || (random[0] == 'Z' && random[1] == 'M'));
    }
}

// ------------------------------------------------------------ corpus

bool Fail(std::string* why, const char* text) {
    *why = text;
    return false;
}

// Undoes one infection the way a repair is meant to: the entry point saved
// in the body, for Elkern.C the five saved bytes, then zeros over every
// block of the chain. False when the marks are not where the layer says.
bool UndoLayer(Bytes& image, const synth::Layer& layer, std::string* why) {
    const uint32_t entry = synth::PeEntryPoint(image);
    uint32_t entryOffset = 0;
    if (!synth::MapRva(image, entry, &entryOffset) || entryOffset > image.size() - 5) {
        return Fail(why, "entry point unmapped");
    }
    uint32_t body = 0;
    const auto bodyFits = [&] { return body <= image.size() && image.size() - body >= 573; };
    if (layer.threat == "Win32.Elkern.C") {
        const uint32_t start = image[entryOffset] == 0xE9 ? entry + 5 + synth::GetLe32(image, entryOffset + 1) : entry;
        if (start != layer.chainStart || !synth::MapRva(image, start, &body) || !bodyFits()) {
            return Fail(why, "C body not at chain start");
        }
        const uint32_t saved = synth::GetLe32(image, body + 58);
        const uint8_t savedBytes[5] = {image[body + 65], image[body + 66], image[body + 67], image[body + 68],
                                       image[body + 72]};
        synth::SetPeEntryPoint(image, saved);
        uint32_t restored = 0;
        if (!synth::MapRva(image, saved, &restored) || restored > image.size() - 5) {
            return Fail(why, "saved entry unmapped");
        }
        for (size_t i = 0; i < 5; ++i) image[restored + i] = savedBytes[i];
    } else {
        if (entry != layer.chainStart || image[entryOffset] != 0xE8) return Fail(why, "no CALL at chain start");
        if (!synth::MapRva(image, entry + 5 + synth::GetLe32(image, entryOffset + 1), &body) || !bodyFits()) {
            return Fail(why, "CALL target unmapped");
        }
        const uint8_t key1 = image[body + 15];
        const unsigned rotation = image[body + 18] & 7u;
        const uint8_t key2 = image[body + 21];
        Bytes plain(512);
        for (size_t i = 0; i < plain.size(); ++i) {
            const auto x = static_cast<uint8_t>(image[body + 61 + i] ^ key1);
            const auto rotated = static_cast<uint8_t>(rotation == 0 ? x : (x << rotation) | (x >> (8 - rotation)));
            plain[i] = static_cast<uint8_t>(rotated ^ key2);
        }
        const bool isA = layer.threat == "Win32.Elkern.A";
        if (synth::Crc32Raw(plain, 0, 224) != (isA ? 0xC9375D61u : 0xEAFB2329u)) return Fail(why, "A/B checksum");
        synth::SetPeEntryPoint(image, synth::GetLe32(plain, (isA ? 390u : 382u) - 61));
    }
    uint32_t rva = layer.chainStart;
    for (int blocks = 0; rva != 0; ++blocks) {
        uint32_t offset = 0;
        if (blocks > 16 || !synth::MapRva(image, rva, &offset)) return Fail(why, "chain leaves the sections");
        if (offset < 8 || image[offset - 2] != 0x57 || image[offset - 1] != 0x51)
            return Fail(why, "block without marker");
        rva = synth::GetLe32(image, offset - 8);
        const uint16_t length = synth::GetLe16(image, offset - 4);
        if (length > image.size() - offset) return Fail(why, "block runs past the end of the file");
        std::fill(image.data() + offset - 8, image.data() + offset + length, uint8_t{0});
    }
    return true;
}

class SynthCorpus : public ::testing::TestWithParam<uint32_t> {};

TEST_P(SynthCorpus, SameSeedSameBytesOtherSeedOtherBytes) {
    const std::vector<Sample> first = synth::BuildCorpus(GetParam());
    const std::vector<Sample> again = synth::BuildCorpus(GetParam());
    const std::vector<Sample> other = synth::BuildCorpus(GetParam() + 1);
    ASSERT_EQ(first.size(), again.size());
    ASSERT_EQ(first.size(), other.size());
    size_t differing = 0;
    for (size_t i = 0; i < first.size(); ++i) {
        EXPECT_EQ(first[i].name, again[i].name);
        EXPECT_EQ(first[i].bytes, again[i].bytes) << first[i].name;
        EXPECT_EQ(first[i].clean, again[i].clean) << first[i].name;
        EXPECT_EQ(first[i].name, other[i].name);
        if (first[i].bytes != other[i].bytes) ++differing;
    }
    // The empty file is always the same, the one-byte file may be by chance.
    EXPECT_GE(differing, first.size() - 2);
}

TEST_P(SynthCorpus, CoversEveryThreatAndVerdictWithSafeUniqueNames) {
    const std::vector<Sample> corpus = synth::BuildCorpus(GetParam());
    std::set<std::string> names;
    std::set<std::string> infected;
    std::set<int> verdicts;
    size_t doubles = 0;
    for (const Sample& sample : corpus) {
        EXPECT_TRUE(names.insert(sample.name).second) << "duplicate " << sample.name;
        EXPECT_FALSE(sample.name.empty());
        for (char c : sample.name) {
            EXPECT_TRUE((c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') || c == '_') << sample.name;
        }
        verdicts.insert(sample.verdict);
        EXPECT_EQ(sample.threat.empty(), sample.verdict == 0) << sample.name;
        if (sample.verdict == 1) infected.insert(sample.threat);
        if (sample.verdict == 5) {
            EXPECT_EQ(sample.threat, "Win32.Elkern.C") << sample.name;
        }
        if (sample.layers.size() == 2) ++doubles;
        if (!sample.layers.empty()) {
            EXPECT_EQ(sample.verdict, 1) << sample.name;
            EXPECT_EQ(sample.layers.front().threat, sample.threat) << sample.name;
        }
    }
    EXPECT_EQ(verdicts, (std::set<int>{0, 1, 5}));
    EXPECT_EQ(infected.size(), 10u);  // the seven worm rows and the three Elkern variants
    EXPECT_GE(doubles, 4u);
}

TEST_P(SynthCorpus, WormCopiesCarryTheirRowChecksum) {
    const std::vector<Sample> corpus = synth::BuildCorpus(GetParam());
    size_t copies = 0;
    for (const Sample& sample : corpus) {
        if (sample.threat.rfind("Win32.Klez.", 0) != 0) continue;
        ++copies;
        ASSERT_GE(sample.bytes.size(), synth::WormMinimumSize) << sample.name;
        int row = -1;
        for (int r = 0; r < synth::WormRowCount; ++r) {
            if (synth::WormThreat(r) == sample.threat) row = r;
        }
        ASSERT_GE(row, 0) << sample.threat;
        EXPECT_EQ(synth::Crc32Raw(sample.bytes, synth::WormRegionOffset, synth::WormRegionLength), synth::WormCrc(row))
            << sample.name;
        EXPECT_TRUE(sample.clean.empty() && sample.layers.empty()) << sample.name;
    }
    EXPECT_GE(copies, 9u);
    // The one-byte-short copy is the minimal copy without its last byte.
    const auto find = [&](const std::string& name) {
        return *std::find_if(corpus.begin(), corpus.end(), [&](const Sample& s) { return s.name == name; });
    };
    const Sample minimal = find("worm_a_min_size");
    const Sample shorter = find("worm_a_one_byte_short");
    EXPECT_EQ(minimal.bytes.size(), synth::WormMinimumSize);
    EXPECT_EQ(shorter.bytes, Bytes(minimal.bytes.begin(), minimal.bytes.end() - 1));
}

// The infected host differs from the clean one only where the clean host
// holds zeros (cavities), in AddressOfEntryPoint, and in the five bytes at
// the clean entry point when they now hold a JMP.
TEST_P(SynthCorpus, InfectionsStayInCavitiesAndRepairGivesBackTheHost) {
    const std::vector<Sample> corpus = synth::BuildCorpus(GetParam());
    size_t hosts = 0;
    for (const Sample& sample : corpus) {
        if (sample.clean.empty()) continue;
        ++hosts;
        SCOPED_TRACE(sample.name);
        ASSERT_EQ(sample.bytes.size(), sample.clean.size());
        ASSERT_NE(sample.bytes, sample.clean);
        const uint32_t entryField = synth::PeLfanew(sample.clean) + synth::PeEntryPointField;
        uint32_t hostEntry = 0;
        ASSERT_TRUE(synth::MapRva(sample.clean, synth::PeEntryPoint(sample.clean), &hostEntry));
        const bool jumped = sample.bytes[hostEntry] == 0xE9 && sample.clean[hostEntry] != 0xE9;
        for (size_t i = 0; i < sample.bytes.size(); ++i) {
            if (sample.bytes[i] == sample.clean[i] || sample.clean[i] == 0) continue;
            if (i >= entryField && i < entryField + 4) continue;
            if (jumped && i >= hostEntry && i < hostEntry + 5) continue;
            ADD_FAILURE() << "host byte changed at " << i;
            break;
        }
        if (sample.layers.empty()) continue;
        Bytes image = sample.bytes;
        for (const synth::Layer& layer : sample.layers) {
            std::string why;
            ASSERT_TRUE(UndoLayer(image, layer, &why)) << layer.threat << ": " << why;
        }
        EXPECT_TRUE(image == sample.clean) << "repair does not give back the host";
    }
    EXPECT_GE(hosts, 40u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, SynthCorpus, ::testing::Values(1u, 0xBEEFu, 20261208u));

TEST(SynthHost, CavitiesAreZeroAndFollowedByAReadWindowOfTheirSection) {
    for (uint32_t seed = 0; seed < 8; ++seed) {
        const synth::Host host = synth::MakeCleanHost(seed);
        ASSERT_GE(host.cavities.size(), 6u);
        for (const synth::Cavity& cavity : host.cavities) {
            uint32_t offset = 0;
            ASSERT_TRUE(synth::MapRva(host.bytes, cavity.rva, &offset));
            EXPECT_EQ(offset, cavity.offset);
            // The last byte a 1024-byte read from the cavity's end touches
            // still lies in the same section's raw data.
            uint32_t far = 0;
            ASSERT_TRUE(synth::MapRva(host.bytes, cavity.rva + cavity.length + 1023, &far));
            EXPECT_EQ(far, cavity.offset + cavity.length + 1023);
            EXPECT_TRUE(std::all_of(host.bytes.data() + cavity.offset,
                                    host.bytes.data() + cavity.offset + cavity.length,
                                    [](uint8_t b) { return b == 0; }));
        }
    }
    synth::HostOptions big;
    big.minFileSize = 50000;
    EXPECT_GE(synth::MakeCleanHost(1, big).bytes.size(), 50000u);
}

}  // namespace
