// Clean hosts with cavities, and the fake Elkern infections written into
// them. Every byte an infection writes lies in a block of its chain (header
// or data) inside a cavity, apart from AddressOfEntryPoint and, for Elkern.C
// with a jump, the five bytes at the old entry point; so wiping the chain and
// restoring those gives the clean host back exactly.
#include <algorithm>

#include "tests/support/synth.h"

namespace synth {

namespace {

constexpr uint32_t BlockHeaderSize = 8;
constexpr uint8_t MarkerW = 0x57;
constexpr uint8_t MarkerQ = 0x51;
constexpr uint32_t ReadWindow = 1024;  // what a detector reads from the body

// Elkern.A/B body fields.
constexpr uint32_t AbKey1 = 15;
constexpr uint32_t AbRotation = 18;
constexpr uint32_t AbKey2 = 21;
constexpr uint32_t AbEncoded = 61;
constexpr uint32_t AbEncodedLength = 512;
constexpr uint32_t AbChecked = 224;
constexpr uint32_t AbBodyLength = AbEncoded + AbEncodedLength;  // 573

// Elkern.C body fields, counted from the body start.
constexpr uint32_t CSavedEntry = 58;
constexpr uint32_t CSavedBytes = 65;
constexpr uint32_t CSavedFifth = 72;
constexpr uint32_t CFirstWindowLength = 11;  // from two bytes before the body
constexpr uint32_t CSecondWindow = 14;
constexpr uint32_t CStretchOffset = 313;
constexpr uint32_t CStretchLength = 120;
constexpr uint32_t CBodyLength = CStretchOffset + CStretchLength;  // 433

constexpr uint32_t ElkernACrc = 0xC9375D61u;
constexpr uint32_t ElkernBCrc = 0xEAFB2329u;
constexpr uint32_t CFirstWindowCrc = 0xC3324EA7u;
constexpr uint32_t CSecondWindowCrc = 0xD6CF7F28u;
constexpr uint32_t CStretchCrc = 0x44706677u;

uint8_t RotateRight(uint8_t value, unsigned count) {
    count &= 7u;
    if (count == 0) return value;
    return static_cast<uint8_t>((value >> count) | (value << (8u - count)));
}

// A run of host bytes: pseudo-random, or zeros that become a cavity.
struct Run {
    uint32_t length;
    bool cavity;
};

PeSection MakeSection(const char* name, uint32_t characteristics, const std::vector<Run>& runs, Rng& rng,
                      std::vector<uint32_t>* cavityStarts) {
    PeSection section;
    section.name = name;
    section.characteristics = characteristics;
    for (const Run& run : runs) {
        const size_t start = section.data.size();
        section.data.resize(start + run.length, 0);
        if (run.cavity) {
            cavityStarts->push_back(static_cast<uint32_t>(start));
        } else {
            rng.Fill(section.data.data() + start, run.length);
        }
    }
    return section;
}

// Code-like runs with cavities between them; the last run is long enough
// that a 1024-byte read from any cavity stays inside the section.
std::vector<Run> CavityLayout(Rng& rng, uint32_t large, uint32_t small, uint32_t firstRun) {
    // Large cavities hold a whole body block, small ones stubs and tails;
    // their order is drawn.
    std::vector<bool> isLarge(large, true);
    isLarge.insert(isLarge.end(), small, false);
    for (size_t i = isLarge.size(); i > 1; --i) {
        const size_t j = rng.Below(static_cast<uint32_t>(i));
        const bool swap = isLarge[i - 1];
        isLarge[i - 1] = isLarge[j];
        isLarge[j] = swap;
    }
    std::vector<Run> runs;
    runs.push_back({firstRun, false});
    for (size_t i = 0; i < isLarge.size(); ++i) {
        runs.push_back({isLarge[i] ? rng.Between(0x700, 0xC00) : rng.Between(0x60, 0x140), true});
        const bool last = i + 1 == isLarge.size();
        runs.push_back({last ? ReadWindow + rng.Between(0x40, 0x400) : rng.Between(0x40, 0x300), false});
    }
    return runs;
}

// Takes room for one block (header plus length data bytes) from a cavity
// drawn among those large enough; false when none is.
bool PlaceBlock(Host& host, uint32_t length, Rng& rng, ChainBlock* block) {
    const uint32_t need = BlockHeaderSize + length;
    std::vector<size_t> fitting;
    for (size_t i = 0; i < host.cavities.size(); ++i) {
        if (host.cavities[i].length >= need) fitting.push_back(i);
    }
    if (fitting.empty()) return false;
    const size_t index = fitting[rng.Below(static_cast<uint32_t>(fitting.size()))];
    const Cavity cavity = host.cavities[index];
    const uint32_t slack = cavity.length - need;
    const uint32_t shift = rng.Below(std::min<uint32_t>(slack, 96) + 1);
    *block = ChainBlock{cavity.rva + shift + BlockHeaderSize, cavity.offset + shift + BlockHeaderSize, length};

    host.cavities.erase(host.cavities.begin() + static_cast<std::ptrdiff_t>(index));
    if (shift > 0) host.cavities.push_back(Cavity{cavity.rva, cavity.offset, shift});
    if (slack > shift)
        host.cavities.push_back(Cavity{cavity.rva + shift + need, cavity.offset + shift + need, slack - shift});
    return true;
}

// Places blocks of the given data lengths, links them in order, marks
// their headers and fills their data with pseudo-random bytes.
bool PlaceChain(Host& host, const std::vector<uint32_t>& lengths, Rng& rng, std::vector<ChainBlock>* chain) {
    chain->clear();
    for (uint32_t length : lengths) {
        ChainBlock block{};
        if (!PlaceBlock(host, length, rng, &block)) return false;
        chain->push_back(block);
    }
    for (size_t i = 0; i < chain->size(); ++i) {
        const ChainBlock& block = (*chain)[i];
        const size_t header = block.offset - BlockHeaderSize;
        PutLe32(host.bytes, header, i + 1 < chain->size() ? (*chain)[i + 1].rva : 0);
        PutLe16(host.bytes, header + 4, static_cast<uint16_t>(block.length));
        host.bytes[header + 6] = MarkerW;
        host.bytes[header + 7] = MarkerQ;
        rng.Fill(host.bytes.data() + block.offset, block.length);
    }
    return true;
}

// A few trailing blocks, some of them empty: the wipe clears only headers
// of those.
void AddTailLengths(std::vector<uint32_t>* lengths, uint32_t minimum, Rng& rng) {
    const uint32_t count = rng.Between(minimum, 2);
    for (uint32_t i = 0; i < count; ++i) lengths->push_back(rng.Below(4) == 0 ? 0 : rng.Between(1, 120));
}

const char* ElkernThreat(char variant) {
    switch (variant) {
        case 'A': return "Win32.Elkern.A";
        case 'B': return "Win32.Elkern.B";
        default: return "Win32.Elkern.C";
    }
}

}  // namespace

Host MakeCleanHost(uint32_t seed, const HostOptions& options) {
    Rng rng(seed);
    std::vector<uint32_t> textCavities;
    std::vector<uint32_t> dataCavities;
    const uint32_t firstRun = rng.Between(0x200, 0x600);

    PeSpec spec;
    spec.dll = options.dll;
    std::vector<Run> textRuns = CavityLayout(rng, 3, 2, firstRun);
    std::vector<Run> dataRuns = CavityLayout(rng, 2, 1, rng.Between(0x100, 0x400));
    spec.sections.push_back(MakeSection(".text", 0x60000020u, textRuns, rng, &textCavities));
    spec.sections.push_back(MakeSection(".data", 0xC0000040u, dataRuns, rng, &dataCavities));
    spec.sections.push_back(MakeSection(".rsrc", 0x40000040u, {{rng.Between(0x200, 0x800), false}}, rng, nullptr));

    PeSpec resolved = ResolvePe(spec);
    const PeSection& last = resolved.sections.back();
    const uint32_t end = last.pointerToRawData + last.sizeOfRawData;
    if (options.minFileSize > end) {
        const uint32_t padding = (options.minFileSize - end + 0x1FF) / 0x200 * 0x200;
        spec.sections.push_back(MakeSection(".rdata", 0x40000040u, {{padding, false}}, rng, nullptr));
        resolved = ResolvePe(spec);
    }
    spec.entryPoint = resolved.sections[0].virtualAddress + rng.Between(0x10, firstRun - 0x10);

    Host host;
    host.bytes = BuildPe(spec);
    const std::vector<Run>* layouts[2] = {&textRuns, &dataRuns};
    const std::vector<uint32_t>* starts[2] = {&textCavities, &dataCavities};
    for (size_t s = 0; s < 2; ++s) {
        const PeSection& section = resolved.sections[s];
        size_t next = 0;
        for (const Run& run : *layouts[s]) {
            if (!run.cavity) continue;
            const uint32_t start = (*starts[s])[next++];
            host.cavities.push_back(
                Cavity{section.virtualAddress + start, section.pointerToRawData + start, run.length});
        }
    }
    return host;
}

uint32_t InfectElkernAB(Host& host, char variant, uint8_t rotation, Rng& rng) {
    if (variant != 'A' && variant != 'B') return 0;
    Host work = host;
    const uint32_t original = PeEntryPoint(work.bytes);

    // Stub block at the new entry point, body somewhere inside the second
    // block, then tails.
    const uint32_t bodyLead = rng.Below(33);
    std::vector<uint32_t> lengths = {rng.Between(5, 48), bodyLead + AbBodyLength + rng.Below(160)};
    AddTailLengths(&lengths, 0, rng);
    std::vector<ChainBlock> chain;
    if (!PlaceChain(work, lengths, rng, &chain)) return 0;

    const uint32_t entry = chain[0].rva;
    const uint32_t body = chain[1].rva + bodyLead;
    const size_t f = chain[1].offset + bodyLead;
    work.bytes[chain[0].offset] = 0xE8;
    PutLe32(work.bytes, chain[0].offset + 1, body - (entry + 5));

    work.bytes[f + 0] = 0x5D;
    work.bytes[f + 2] = 0x60;
    work.bytes[f + 3] = 0x8D;
    const uint8_t key1 = rng.Byte();
    const uint8_t key2 = rng.Byte();
    work.bytes[f + AbKey1] = key1;
    work.bytes[f + AbRotation] = rotation;
    work.bytes[f + AbKey2] = key2;

    Bytes plain(AbEncodedLength);
    rng.Fill(plain.data(), plain.size());
    PutLe32(plain, (variant == 'A' ? 390u : 382u) - AbEncoded, original);
    if (!ForgeCrc(plain, 0, AbChecked, rng.Below(AbChecked - 3), variant == 'A' ? ElkernACrc : ElkernBCrc)) return 0;
    // The detector decodes x ^ key1, rotate left, ^ key2; this is its inverse.
    for (size_t i = 0; i < AbEncodedLength; ++i) {
        work.bytes[f + AbEncoded + i] =
            static_cast<uint8_t>(RotateRight(static_cast<uint8_t>(plain[i] ^ key2), rotation) ^ key1);
    }
    SetPeEntryPoint(work.bytes, entry);
    host = std::move(work);
    return entry;
}

uint32_t InfectElkernC(Host& host, bool jump, CStretch stretch, Rng& rng) {
    Host work = host;
    const uint32_t original = PeEntryPoint(work.bytes);
    uint32_t entryOffset = 0;
    if (!MapRva(work.bytes, original, &entryOffset) || entryOffset > work.bytes.size() - 5) return 0;
    const Bytes saved(work.bytes.data() + entryOffset, work.bytes.data() + entryOffset + 5);

    std::vector<uint32_t> lengths = {CBodyLength + rng.Between(1, 160)};  // at least one byte past the stretch
    AddTailLengths(&lengths, 1, rng);
    std::vector<ChainBlock> chain;
    if (!PlaceChain(work, lengths, rng, &chain)) return 0;
    const uint32_t body = chain[0].rva;
    const size_t f = chain[0].offset;

    // Neither a jump nor a call at the body start, so no detector follows
    // it somewhere else when the body itself is the entry point.
    do {
        work.bytes[f] = rng.Byte();
    } while (work.bytes[f] == 0xE8 || work.bytes[f] == 0xE9);
    PutLe32(work.bytes, f + CSavedEntry, original);
    for (size_t i = 0; i < 4; ++i) work.bytes[f + CSavedBytes + i] = saved[i];
    work.bytes[f + CSavedFifth] = saved[4];

    // The patches keep off the marker and body byte 0.
    if (!ForgeCrc(work.bytes, f - 2, CFirstWindowLength, f + 1 + rng.Below(5), CFirstWindowCrc)) return 0;
    if (!ForgeCrc(work.bytes, f + CSecondWindow, CFirstWindowLength, f + CSecondWindow + rng.Below(8),
                  CSecondWindowCrc)) {
        return 0;
    }

    Bytes plain(CStretchLength);
    rng.Fill(plain.data(), plain.size());
    PutLe16(plain, 0, 0x9C60);
    const uint32_t target = stretch == CStretch::Valid ? CStretchCrc : CStretchCrc ^ (1u << rng.Below(32));
    if (!ForgeCrc(plain, 0, CStretchLength, 2 + rng.Below(CStretchLength - 5), target)) return 0;
    const auto key = static_cast<uint16_t>(rng.Next32());
    for (size_t j = 0; j < CStretchLength; j += 2) {
        PutLe16(work.bytes, f + CStretchOffset + j, static_cast<uint16_t>(GetLe16(plain, j) ^ key));
    }

    if (jump) {
        work.bytes[entryOffset] = 0xE9;
        PutLe32(work.bytes, entryOffset + 1, body - (original + 5));
    } else {
        SetPeEntryPoint(work.bytes, body);
    }
    host = std::move(work);
    return body;
}

Sample MakeElkernAB(char variant, uint8_t rotation, uint32_t seed, const HostOptions& options) {
    Host host = MakeCleanHost(SubSeed(seed, 1), options);
    Sample sample;
    sample.clean = host.bytes;
    Rng rng(SubSeed(seed, 2));
    const uint32_t start = InfectElkernAB(host, variant, rotation, rng);
    sample.bytes = std::move(host.bytes);
    sample.name = std::string("elkern_") + (variant == 'A' ? "a" : "b") + "_rot" + std::to_string(rotation & 7u);
    if (!options.dll && start != 0) {
        sample.verdict = 1;
        sample.threat = ElkernThreat(variant);
        sample.layers.push_back(Layer{sample.threat, start});
    }
    return sample;
}

Sample MakeElkernC(bool jump, uint32_t seed, CStretch stretch, const HostOptions& options) {
    Host host = MakeCleanHost(SubSeed(seed, 1), options);
    Sample sample;
    sample.clean = host.bytes;
    Rng rng(SubSeed(seed, 2));
    const uint32_t start = InfectElkernC(host, jump, stretch, rng);
    sample.bytes = std::move(host.bytes);
    sample.name = std::string("elkern_c_") + (jump ? "jump" : "entry");
    if (!options.dll && start != 0) {
        sample.threat = ElkernThreat('C');
        if (stretch == CStretch::Valid) {
            sample.verdict = 1;
            sample.layers.push_back(Layer{sample.threat, start});
        } else {
            sample.verdict = 5;
        }
    }
    return sample;
}

Sample MakeCleanSample(uint32_t seed) {
    Sample sample;
    sample.name = "clean_host";
    sample.bytes = MakeCleanHost(seed).bytes;
    return sample;
}

}  // namespace synth
