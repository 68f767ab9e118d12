// The archive mix: 60 % of the bytes in ZIP files, 20 % each in RAR 4 and
// RAR5 files of 1 to 24 MiB each (at most an eighth of the mix), entries of
// 16 to 256 KiB. ZIP deflates programs and texts and stores pseudo-random
// data (which does not shrink), as archivers do; RAR entries are all
// stored, the one method the readers open. Every other worm copy planted in
// a ZIP is deflated.
#include <algorithm>
#include <string>
#include <vector>

#include "bench/inside.h"
#include "bench/inside_content.h"
#include "tests/support/archive_samples.h"

namespace inside {

namespace {

constexpr uint32_t Mebibyte = 1u << 20;
// Local header fields of a ZIP entry, from the header's first byte.
constexpr size_t ZipPackedSizeField = 18;
constexpr size_t ZipNameLengthField = 26;
constexpr size_t ZipExtraLengthField = 28;
constexpr size_t ZipLocalHeaderSize = 30;

enum Format { Zip, Rar4, Rar5, FormatCount };
const uint32_t Share[FormatCount] = {60, 20, 20};

struct Entry {
    std::string name;
    const Bytes* raw = nullptr;
    const Bytes* deflated = nullptr;  // null: stored
    uint32_t crc = 0;
};

class ArchiveWriter {
public:
    explicit ArchiveWriter(uint32_t seed)
        : seed_(seed), rng_(synth::SubSeed(seed, 1)), pool_(synth::SubSeed(seed, 2), 32, 16384, 262144, true, false) {}

    // The next entry; a planted worm's bytes live in worm until the next call.
    Entry Next(bool zip) {
        entries += 1;
        const std::string number = std::to_string(entries);
        if (entries % InfectedEvery == InfectedEvery / 2) {
            worm_ = PlantedWorm(infected, seed_).bytes;
            infected += 1;
            Entry entry{"programas/juego" + number + ".exe", &worm_, nullptr, synth::ArchiveCrc(worm_)};
            if (zip && infected % 2 == 0) {
                wormDeflated_ = Deflate(worm_);
                entry.deflated = &wormDeflated_;
            }
            return entry;
        }
        const Pooled& item = pool_.Draw(rng_);
        Entry entry{"", &item.raw, zip && !item.deflated.empty() ? &item.deflated : nullptr, item.crc};
        switch (item.kind) {
            case Kind::Program:
                entry.name = "programas/setup" + number + ".exe";
                break;
            case Kind::Text:
                entry.name = "docs/leeme" + number + ".txt";
                break;
            case Kind::Random:
                entry.name = "datos/imagen" + number + ".dat";
                break;
        }
        return entry;
    }

    uint32_t entries = 0;
    uint32_t infected = 0;

private:
    uint32_t seed_;
    synth::Rng rng_;
    Pool pool_;
    Bytes worm_;
    Bytes wormDeflated_;
};

// The ZIP, and each deflated entry's compressed bytes as ranges lines.
Bytes BuildZip(ArchiveWriter& writer, uint64_t target, const std::string& path, std::FILE* ranges) {
    std::vector<synth::ZipEntrySpec> specs;
    uint64_t size = 0;
    while (size < target) {
        const Entry entry = writer.Next(true);
        synth::ZipEntrySpec spec;
        spec.name = entry.name;
        if (entry.deflated != nullptr) {
            spec.method = synth::ZipMethodDeflated;
            spec.packed = *entry.deflated;
            spec.size = entry.raw->size();
            spec.crc = entry.crc;
        } else {
            spec.data = *entry.raw;
        }
        size += ZipLocalHeaderSize + 46 + 2 * spec.name.size() + (entry.deflated ? spec.packed : spec.data).size();
        specs.push_back(std::move(spec));
    }
    synth::ZipLayout layout;
    Bytes zip = synth::MakeZip(specs, {}, &layout);
    for (size_t i = 0; i < specs.size(); ++i) {
        if (specs[i].method != synth::ZipMethodDeflated) continue;
        // Read back from the written header: where the writer put the data.
        const size_t local = layout.locals[i];
        const size_t data = local + ZipLocalHeaderSize + synth::GetLe16(zip, local + ZipNameLengthField) +
                            synth::GetLe16(zip, local + ZipExtraLengthField);
        std::fprintf(ranges, "%s\t%zu\t%u\t%llu\n", path.c_str(), data, synth::GetLe32(zip, local + ZipPackedSizeField),
                     static_cast<unsigned long long>(specs[i].size));
    }
    return zip;
}

Bytes BuildRar(ArchiveWriter& writer, uint64_t target, bool rar5) {
    std::vector<synth::RarEntrySpec> specs;
    uint64_t size = 0;
    while (size < target) {
        const Entry entry = writer.Next(false);
        synth::RarEntrySpec spec;
        spec.name = entry.name;
        spec.data = *entry.raw;
        size += 48 + spec.name.size() + spec.data.size();
        specs.push_back(std::move(spec));
    }
    return rar5 ? synth::MakeRar5(specs) : synth::MakeRar4(specs);
}

}  // namespace

bool WriteArchiveMix(const std::string& dir, uint64_t budget, uint32_t seed, std::FILE* ranges, Ledger& ledger) {
    ArchiveWriter writer(seed);
    synth::Rng rng(synth::SubSeed(seed, 3));
    uint64_t written[FormatCount] = {};
    uint32_t files[FormatCount] = {};
    static const char* const names[FormatCount] = {"/zip/paquete", "/rar4/copia", "/rar5/fotos"};
    static const char* const extensions[FormatCount] = {".zip", ".rar", ".rar"};
    while (ledger.bytes < budget) {
        int format = Zip;
        for (int f = Zip + 1; f < FormatCount; ++f) {
            if (written[f] * Share[format] < written[format] * Share[f]) format = f;
        }
        const uint64_t left = budget - ledger.bytes;
        const uint64_t drawn = uint64_t{rng.Between(1, 24)} * Mebibyte;
        const uint64_t cap = budget / 8 > Mebibyte ? budget / 8 : Mebibyte;
        const uint64_t target = std::min({drawn, left, cap});
        const uint32_t entriesBefore = writer.entries;
        const uint32_t infectedBefore = writer.infected;
        const std::string path = dir + names[format] + std::to_string(files[format]) + extensions[format];
        const Bytes bytes = format == Zip ? BuildZip(writer, target, path, ranges) : BuildRar(writer, target, format == Rar5);
        if (!WriteFile(path, bytes.data(), bytes.size())) return false;
        written[format] += bytes.size();
        files[format] += 1;
        ledger.Add(path, bytes.size(), writer.entries - entriesBefore, writer.infected - infectedBefore);
    }
    return std::fflush(ranges) == 0;
}

}  // namespace inside
