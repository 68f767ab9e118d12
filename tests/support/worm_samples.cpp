// Worm copies: PE images of pseudo-random bytes whose checksummed region is
// forged to one signature row.
#include <array>

#include "tests/support/synth.h"

namespace synth {

namespace {

constexpr std::array<uint32_t, WormRowCount> RowCrcs = {0xD61B2860u, 0xD4CE23A3u, 0x7DE2D5A8u, 0x9E845B09u,
                                                        0x19553F97u, 0x538C6F75u, 0xA3389807u};
constexpr std::array<char, WormRowCount> RowLetters = {'A', 'B', 'C', 'D', 'E', 'G', 'H'};

size_t RowIndex(int row) { return static_cast<size_t>(row < 0 ? 0 : row % WormRowCount); }

}  // namespace

uint32_t WormCrc(int row) { return RowCrcs[RowIndex(row)]; }

char WormLetter(int row) { return RowLetters[RowIndex(row)]; }

std::string WormThreat(int row) { return std::string("Win32.Klez.") + WormLetter(row) + "@mm"; }

bool PlantWormRegion(Bytes& data, int row, size_t patchOffset) {
    if (data.size() < WormMinimumSize) return false;
    return ForgeCrc(data, WormRegionOffset, WormRegionLength, patchOffset, WormCrc(row));
}

Sample MakeWormCopy(int row, uint32_t seed, const WormOptions& options) {
    Rng rng(seed);
    const uint32_t fileSize =
        options.fileSize != 0 ? options.fileSize : WormMinimumSize + 0x200 * rng.Below(24) + rng.Below(0x200);

    // Headers take 0x200 bytes; two sections fill whole 0x200 units up to
    // the size, an overlay of random bytes the rest.
    const uint32_t raw = fileSize > 0x400 ? (fileSize - 0x200) / 0x200 * 0x200 : 0x200;
    const uint32_t codeSize = 0x200 * rng.Between(2, 16);
    PeSpec spec;
    spec.dll = options.dll;
    PeSection code;
    code.name = ".text";
    code.data.resize(codeSize);
    rng.Fill(code.data.data(), code.data.size());
    PeSection data;
    data.name = ".data";
    data.characteristics = 0xC0000040u;
    data.data.resize(raw > codeSize ? raw - codeSize : 0x200);
    rng.Fill(data.data.data(), data.data.size());
    spec.sections = {code, data};
    const PeSpec resolved = ResolvePe(spec);
    spec.entryPoint = resolved.sections[0].virtualAddress + rng.Below(codeSize - 16);

    Sample sample;
    sample.bytes = BuildPe(spec);
    const size_t built = sample.bytes.size();
    sample.bytes.resize(fileSize, 0);
    if (fileSize > built) rng.Fill(sample.bytes.data() + built, fileSize - built);
    const size_t patch = WormRegionOffset + rng.Below(WormRegionLength - 3);
    PlantWormRegion(sample.bytes, row, patch);

    sample.name = std::string("worm_") + static_cast<char>(WormLetter(row) - 'A' + 'a');
    sample.verdict = options.dll ? 0 : 1;
    sample.threat = options.dll ? "" : WormThreat(row);
    return sample;
}

}  // namespace synth
