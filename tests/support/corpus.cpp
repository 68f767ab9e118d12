// The full corpus: every kind of sample, including near misses that differ
// from a detected sample in one byte (or one byte of length) and must come
// out clean, and the pairs on either side of each checked range.
#include <fstream>

#include "tests/support/synth.h"

namespace synth {

namespace {

constexpr uint32_t AbEncoded = 61;
constexpr uint32_t AbCheckedEnd = AbEncoded + 224;  // first byte past the checked stretch
constexpr uint32_t CStretch0 = 313;
constexpr uint32_t CStretchEnd = 433;
constexpr uint32_t FarAway = 0x7FFF0000u;  // a displacement that leaves every section

// File offsets inside infected images, found the way a detector finds them
// (only for samples built here, whose addresses all map).
struct Located {
    uint32_t entryOffset = 0;  // AddressOfEntryPoint
    uint32_t body = 0;         // body start
};

Located LocateAbBody(const Bytes& image) {
    Located at;
    const uint32_t entry = PeEntryPoint(image);
    MapRva(image, entry, &at.entryOffset);
    MapRva(image, entry + 5 + GetLe32(image, at.entryOffset + 1), &at.body);
    return at;
}

Located LocateCBody(const Bytes& image) {
    Located at;
    const uint32_t entry = PeEntryPoint(image);
    MapRva(image, entry, &at.entryOffset);
    const uint32_t target = image[at.entryOffset] == 0xE9 ? entry + 5 + GetLe32(image, at.entryOffset + 1) : entry;
    MapRva(image, target, &at.body);
    return at;
}

// The checksum the 120-byte stretch decrypts to, to rule out the rare
// change of the first word that happens to keep it.
uint32_t DecryptedStretchCrc(const Bytes& image, size_t body) {
    const auto key = static_cast<uint16_t>(GetLe16(image, body + CStretch0) ^ 0x9C60);
    Bytes plain(CStretchEnd - CStretch0);
    for (size_t j = 0; j < plain.size(); j += 2) {
        PutLe16(plain, j, static_cast<uint16_t>(GetLe16(image, body + CStretch0 + j) ^ key));
    }
    return Crc32Raw(plain, 0, plain.size());
}

void FlipByte(Bytes& image, size_t offset, Rng& rng) {
    image[offset] = static_cast<uint8_t>(image[offset] ^ (1 + rng.Below(255)));
}

// A changed byte that is neither a CALL nor a JMP opcode, where one of
// those would send a detector somewhere else instead of failing here.
void FlipToNonBranch(Bytes& image, size_t offset, Rng& rng) {
    const uint8_t original = image[offset];
    do {
        image[offset] = original;
        FlipByte(image, offset, rng);
    } while (image[offset] == 0xE8 || image[offset] == 0xE9);
}

Sample Variant(const Sample& base, const std::string& name, int verdict) {
    Sample sample = base;
    sample.name = name;
    sample.verdict = verdict;
    if (verdict != base.verdict) {
        sample.threat = verdict == 0 ? "" : base.threat;
        sample.layers.clear();
    }
    return sample;
}

class CorpusBuilder {
public:
    explicit CorpusBuilder(uint32_t seed) : seed_(seed), rng_(SubSeed(seed, 0xC0FFEEu)) {}

    uint32_t NextSeed() { return SubSeed(seed_, ++counter_); }
    Rng& rng() { return rng_; }
    void Add(Sample sample) { samples_.push_back(std::move(sample)); }
    void Add(Sample sample, const std::string& name) {
        sample.name = name;
        samples_.push_back(std::move(sample));
    }
    std::vector<Sample> Take() { return std::move(samples_); }

private:
    uint32_t seed_;
    uint32_t counter_ = 0;
    Rng rng_;
    std::vector<Sample> samples_;
};

Sample PlainFile(const std::string& name, FileKind kind, uint32_t size, uint32_t seed) {
    Sample sample;
    sample.name = name;
    sample.bytes = MakeFile(kind, size, seed);
    return sample;
}

void AddWormSamples(CorpusBuilder& corpus) {
    for (int row = 0; row < WormRowCount; ++row) corpus.Add(MakeWormCopy(row, corpus.NextSeed()));

    WormOptions minimal;
    minimal.fileSize = WormMinimumSize;
    const Sample smallest = MakeWormCopy(0, corpus.NextSeed(), minimal);
    corpus.Add(smallest, "worm_a_min_size");
    Sample oneShort = Variant(smallest, "worm_a_one_byte_short", 0);
    oneShort.bytes.pop_back();
    corpus.Add(oneShort);

    Sample damaged = Variant(MakeWormCopy(1, corpus.NextSeed()), "worm_b_region_byte_off", 0);
    FlipByte(damaged.bytes, WormRegionOffset + corpus.rng().Below(WormRegionLength), corpus.rng());
    corpus.Add(damaged);

    WormOptions dll;
    dll.dll = true;
    corpus.Add(MakeWormCopy(2, corpus.NextSeed(), dll), "worm_c_dll");

    // PE headers moved to the very end of the file: the section table ends
    // exactly at the last byte, and one byte less cuts it short.
    Sample atEnd = MakeWormCopy(3, corpus.NextSeed());
    atEnd.name = "worm_d_headers_end_at_eof";
    const uint32_t oldLfanew = PeLfanew(atEnd.bytes);
    const uint32_t headersSize = 248 + 40u * GetLe16(atEnd.bytes, oldLfanew + 6);
    const auto newLfanew = static_cast<uint32_t>(atEnd.bytes.size());
    const Bytes headers(atEnd.bytes.data() + oldLfanew, atEnd.bytes.data() + oldLfanew + headersSize);
    atEnd.bytes.insert(atEnd.bytes.end(), headers.begin(), headers.end());
    atEnd.bytes[oldLfanew] = 0;  // the old signature no longer counts
    PutLe32(atEnd.bytes, 60, newLfanew);
    corpus.Add(atEnd);
    Sample cut = Variant(atEnd, "worm_d_headers_cut_by_eof", 0);
    cut.bytes.pop_back();
    corpus.Add(cut);

    // Other kinds of file carrying a valid region are never matched.
    const struct {
        const char* name;
        FileKind kind;
    } others[] = {
        {"zm_dos_with_worm_region", FileKind::ZmDos}, {"mz_dos_with_worm_region", FileKind::MzDos},
        {"ne_with_worm_region", FileKind::Ne},        {"ne_bad_tail_with_worm_region", FileKind::NeBadTail},
        {"le_with_worm_region", FileKind::Le},        {"random_with_worm_region", FileKind::Random},
    };
    int row = 0;
    for (const auto& other : others) {
        Sample sample =
            PlainFile(other.name, other.kind, WormMinimumSize + corpus.rng().Below(4096), corpus.NextSeed());
        PlantWormRegion(sample.bytes, row++ % WormRowCount,
                        WormRegionOffset + corpus.rng().Below(WormRegionLength - 3));
        corpus.Add(sample);
    }
}

void AddPlainFiles(CorpusBuilder& corpus) {
    corpus.Add(PlainFile("empty", FileKind::Random, 0, corpus.NextSeed()));
    corpus.Add(PlainFile("one_byte", FileKind::Random, 1, corpus.NextSeed()));
    corpus.Add(PlainFile("mz_63_bytes", FileKind::MzDos, 63, corpus.NextSeed()));
    corpus.Add(PlainFile("mz_64_bytes", FileKind::MzDos, 64, corpus.NextSeed()));
    corpus.Add(PlainFile("text_file", FileKind::Text, 3000, corpus.NextSeed()));
    corpus.Add(MakeCleanSample(corpus.NextSeed()), "clean_host_1");
    corpus.Add(MakeCleanSample(corpus.NextSeed()), "clean_host_2");
    HostOptions dll;
    dll.dll = true;
    Sample cleanDll;
    cleanDll.name = "clean_host_dll";
    cleanDll.bytes = MakeCleanHost(corpus.NextSeed(), dll).bytes;
    corpus.Add(cleanDll);
}

void AddElkernAbSamples(CorpusBuilder& corpus) {
    // Every rotation count, with and without high bits that must be ignored.
    const uint8_t rotationsA[8] = {0x00, 0x09, 0x12, 0x0B, 0x24, 0x2D, 0x36, 0x3F};
    const uint8_t rotationsB[8] = {0xF8, 0x01, 0x02, 0x0B, 0x04, 0x85, 0x06, 0xFF};
    for (uint8_t rotation : rotationsA) corpus.Add(MakeElkernAB('A', rotation, corpus.NextSeed()));
    for (uint8_t rotation : rotationsB) corpus.Add(MakeElkernAB('B', rotation, corpus.NextSeed()));

    Rng& rng = corpus.rng();
    const Sample a = MakeElkernAB('A', 0x0B, corpus.NextSeed());
    const Sample b = MakeElkernAB('B', 0x05, corpus.NextSeed());
    const Located atA = LocateAbBody(a.bytes);
    const Located atB = LocateAbBody(b.bytes);

    // Edges of the checked stretch: the bytes just outside it do not count.
    Sample s = Variant(a, "elkern_a_byte_before_encoded_changed", 1);
    FlipByte(s.bytes, atA.body + AbEncoded - 1, rng);
    corpus.Add(s);
    s = Variant(a, "elkern_a_first_encoded_byte_off", 0);
    FlipByte(s.bytes, atA.body + AbEncoded, rng);
    corpus.Add(s);
    s = Variant(b, "elkern_b_last_checked_byte_off", 0);
    FlipByte(s.bytes, atB.body + AbCheckedEnd - 1, rng);
    corpus.Add(s);
    s = Variant(b, "elkern_b_first_unchecked_byte_changed", 1);
    FlipByte(s.bytes, atB.body + AbCheckedEnd, rng);
    corpus.Add(s);
    s = Variant(a, "elkern_a_checked_byte_off", 0);
    FlipByte(s.bytes, atA.body + AbEncoded + rng.Below(224), rng);
    corpus.Add(s);

    // Marks around the entry point and at the body start.
    s = Variant(a, "elkern_a_marker_w_off", 0);
    FlipByte(s.bytes, atA.entryOffset - 2, rng);
    corpus.Add(s);
    s = Variant(b, "elkern_b_marker_q_off", 0);
    FlipByte(s.bytes, atB.entryOffset - 1, rng);
    corpus.Add(s);
    s = Variant(a, "elkern_a_jump_not_call", 0);
    s.bytes[atA.entryOffset] = 0xE9;
    corpus.Add(s);
    s = Variant(b, "elkern_b_body_byte0_off", 0);
    FlipByte(s.bytes, atB.body, rng);
    corpus.Add(s);
    s = Variant(a, "elkern_a_body_byte2_off", 0);
    FlipByte(s.bytes, atA.body + 2, rng);
    corpus.Add(s);
    s = Variant(b, "elkern_b_body_byte3_off", 0);
    FlipByte(s.bytes, atB.body + 3, rng);
    corpus.Add(s);
    s = Variant(a, "elkern_a_body_byte1_changed", 1);  // never looked at
    FlipByte(s.bytes, atA.body + 1, rng);
    corpus.Add(s);

    // The call's target one byte late, and far outside every section.
    s = Variant(a, "elkern_a_call_one_byte_late", 0);
    PutLe32(s.bytes, atA.entryOffset + 1, GetLe32(s.bytes, atA.entryOffset + 1) + 1);
    corpus.Add(s);
    s = Variant(b, "elkern_b_call_unmapped", 0);
    PutLe32(s.bytes, atB.entryOffset + 1, FarAway);
    corpus.Add(s);

    HostOptions dll;
    dll.dll = true;
    corpus.Add(MakeElkernAB('A', 0x03, corpus.NextSeed(), dll), "elkern_a_in_dll");
}

void AddElkernCSamples(CorpusBuilder& corpus) {
    const Sample jump = MakeElkernC(true, corpus.NextSeed());
    const Sample entry = MakeElkernC(false, corpus.NextSeed());
    corpus.Add(jump);
    corpus.Add(entry);
    corpus.Add(MakeElkernC(true, corpus.NextSeed(), CStretch::WrongCrc), "elkern_c_jump_warning");
    corpus.Add(MakeElkernC(false, corpus.NextSeed(), CStretch::WrongCrc), "elkern_c_entry_warning");

    Rng& rng = corpus.rng();
    const Located atJ = LocateCBody(jump.bytes);
    const Located atE = LocateCBody(entry.bytes);
    struct Edit {
        const char* name;
        bool onJump;
        int32_t offset;  // from the body start
        int verdict;
    };
    // Each checked range with the byte just inside (missed or warned) and
    // the byte just outside (still infected).
    const Edit edits[] = {
        {"elkern_c_marker_w_off", true, -2, 0},
        {"elkern_c_marker_q_off", false, -1, 0},
        {"elkern_c_window1_first_body_byte_off", false, 0, 0},
        {"elkern_c_window1_last_byte_off", true, 8, 0},
        {"elkern_c_after_window1_changed", false, 9, 1},
        {"elkern_c_before_window2_changed", true, 13, 1},
        {"elkern_c_window2_first_byte_off", false, 14, 0},
        {"elkern_c_window2_last_byte_off", true, 24, 0},
        {"elkern_c_after_window2_changed", false, 25, 1},
        {"elkern_c_before_stretch_changed", true, 312, 1},
        {"elkern_c_stretch_second_word_off", false, 315, 5},
        {"elkern_c_stretch_last_byte_off", true, 432, 5},
        {"elkern_c_after_stretch_changed", false, 433, 1},
    };
    for (const Edit& edit : edits) {
        const Sample& base = edit.onJump ? jump : entry;
        Sample s = Variant(base, edit.name, edit.verdict);
        const auto offset = static_cast<size_t>(static_cast<int64_t>((edit.onJump ? atJ : atE).body) + edit.offset);
        FlipToNonBranch(s.bytes, offset, rng);
        corpus.Add(s);
    }
    // A changed first word changes the key for all the others.
    Sample firstWord = Variant(jump, "elkern_c_stretch_first_byte_off", 5);
    do {
        firstWord.bytes[atJ.body + CStretch0] = jump.bytes[atJ.body + CStretch0];
        FlipByte(firstWord.bytes, atJ.body + CStretch0, rng);
    } while (DecryptedStretchCrc(firstWord.bytes, atJ.body) == 0x44706677u);
    corpus.Add(firstWord);

    // Jump targets next to the body, and outside every section.
    const int32_t shifts[] = {1, -1};
    const char* shiftNames[] = {"elkern_c_jump_one_byte_late", "elkern_c_jump_one_byte_early"};
    for (size_t i = 0; i < 2; ++i) {
        Sample s = Variant(jump, shiftNames[i], 0);
        PutLe32(s.bytes, atJ.entryOffset + 1, GetLe32(s.bytes, atJ.entryOffset + 1) + static_cast<uint32_t>(shifts[i]));
        corpus.Add(s);
    }
    Sample unmapped = Variant(jump, "elkern_c_jump_unmapped", 0);
    PutLe32(unmapped.bytes, atJ.entryOffset + 1, FarAway);
    corpus.Add(unmapped);

    HostOptions dll;
    dll.dll = true;
    corpus.Add(MakeElkernC(true, corpus.NextSeed(), CStretch::Valid, dll), "elkern_c_in_dll");
}

// Two infections of one host; the outer one is what detection names.
Sample Double(CorpusBuilder& corpus, const std::string& name, char inner, char outer, bool outerJump,
              CStretch outerStretch = CStretch::Valid) {
    Host host = MakeCleanHost(corpus.NextSeed());
    Rng rng(corpus.NextSeed());
    Sample sample;
    sample.name = name;
    sample.clean = host.bytes;
    auto infect = [&](char variant, bool jump, CStretch stretch) -> Layer {
        const char* threat = variant == 'A' ? "Win32.Elkern.A" : variant == 'B' ? "Win32.Elkern.B" : "Win32.Elkern.C";
        const uint32_t start = variant == 'C' ? InfectElkernC(host, jump, stretch, rng)
                                              : InfectElkernAB(host, variant, static_cast<uint8_t>(rng.Below(8)), rng);
        return Layer{threat, start};
    };
    const Layer first = infect(inner, false, CStretch::Valid);
    const Layer second = infect(outer, outerJump, outerStretch);
    sample.bytes = host.bytes;
    sample.threat = second.threat;
    if (outerStretch == CStretch::Valid) {
        sample.verdict = 1;
        sample.layers = {second, first};
    } else {
        sample.verdict = 5;
    }
    return sample;
}

void AddDoubleInfections(CorpusBuilder& corpus) {
    corpus.Add(Double(corpus, "double_a_then_c_jump", 'A', 'C', true));
    corpus.Add(Double(corpus, "double_a_then_b", 'A', 'B', false));
    corpus.Add(Double(corpus, "double_c_entry_then_a", 'C', 'A', false));
    corpus.Add(Double(corpus, "double_b_then_c_entry", 'B', 'C', false));
    // A warning from the Elkern.C check ends detection before Elkern.A/B.
    corpus.Add(Double(corpus, "double_a_then_c_warning", 'A', 'C', true, CStretch::WrongCrc));

    // A worm region over an infected host: the signature table comes first.
    HostOptions big;
    big.minFileSize = WormMinimumSize + 0x400;
    Host host = MakeCleanHost(corpus.NextSeed(), big);
    const Bytes clean = host.bytes;
    Rng rng(corpus.NextSeed());
    InfectElkernC(host, true, CStretch::Valid, rng);
    size_t patch = WormRegionOffset;
    for (size_t i = WormRegionOffset; i + 4 <= WormMinimumSize; ++i) {
        // Four host bytes that no infection touched.
        if (clean[i] != 0 && clean[i + 1] != 0 && clean[i + 2] != 0 && clean[i + 3] != 0 && clean[i] == host.bytes[i] &&
            clean[i + 1] == host.bytes[i + 1] && clean[i + 2] == host.bytes[i + 2] &&
            clean[i + 3] == host.bytes[i + 3]) {
            patch = i;
            break;
        }
    }
    Sample worm;
    worm.name = "worm_g_over_elkern_c";
    worm.bytes = host.bytes;
    PlantWormRegion(worm.bytes, 5, patch);
    worm.verdict = 1;
    worm.threat = WormThreat(5);
    corpus.Add(worm);
}

}  // namespace

std::vector<Sample> BuildCorpus(uint32_t seed) {
    CorpusBuilder corpus(seed);
    AddWormSamples(corpus);
    AddPlainFiles(corpus);
    AddElkernAbSamples(corpus);
    AddElkernCSamples(corpus);
    AddDoubleInfections(corpus);
    return corpus.Take();
}

bool WriteBytes(const std::string& path, const Bytes& bytes) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    if (!out) return false;
    out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    out.close();
    return static_cast<bool>(out);
}

}  // namespace synth
