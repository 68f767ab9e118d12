// velmora-bench-tree OUTDIR [FILES] [SEED]
// Writes a benchmark tree of FILES unique files (20000 by default) in
// folders of 100: PE images and DLLs with unique tails, random binaries of
// 1 to 64 KiB, small text files, and one of every synthesized threat. The
// planted threats' paths go to OUTDIR.threats, one a line, so that a run
// can check that every one of them was found.
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <string>
#include <vector>

#include "tests/support/synth.h"

namespace {

struct Planted {
    std::string name;
    synth::Bytes bytes;
};

// One of every threat the synthesizer makes: each worm row, Elkern.A and B,
// Elkern.C with and without its jump, and the Elkern.C warning.
std::vector<Planted> Threats(uint32_t seed) {
    std::vector<Planted> threats;
    for (int row = 0; row < 7; ++row) {
        threats.push_back({"worm-" + std::string(1, synth::WormLetter(row)), synth::MakeWormCopy(row, seed + static_cast<uint32_t>(row)).bytes});
    }
    threats.push_back({"elkern-a", synth::MakeElkernAB('A', 3, seed + 10).bytes});
    threats.push_back({"elkern-b", synth::MakeElkernAB('B', 5, seed + 11).bytes});
    threats.push_back({"elkern-c-jump", synth::MakeElkernC(true, seed + 12).bytes});
    threats.push_back({"elkern-c", synth::MakeElkernC(false, seed + 13).bytes});
    threats.push_back({"elkern-c-warning", synth::MakeElkernC(false, seed + 14, synth::CStretch::WrongCrc).bytes});
    return threats;
}

// A unique tail makes every copy of a PE file a file of its own.
void AppendTail(synth::Bytes& bytes, uint32_t n) {
    for (int i = 0; i < 16; ++i) bytes.push_back(static_cast<uint8_t>(n >> (8 * (i % 4))) ^ static_cast<uint8_t>(i));
}

}  // namespace

int main(int argc, char** argv) {
    if (argc < 2 || argc > 4) {
        std::fprintf(stderr, "usage: velmora-bench-tree OUTDIR [FILES] [SEED]\n");
        return 2;
    }
    const std::string root = argv[1];
    const uint32_t files = argc > 2 ? static_cast<uint32_t>(std::strtoul(argv[2], nullptr, 10)) : 20000u;
    const uint32_t seed = argc > 3 ? static_cast<uint32_t>(std::strtoul(argv[3], nullptr, 10)) : 1u;

    std::error_code error;
    std::filesystem::remove_all(root, error);
    const std::vector<Planted> threats = Threats(seed);
    std::FILE* list = std::fopen((root + ".threats").c_str(), "w");
    if (list == nullptr || files < threats.size()) return 1;

    // A handful of distinct PE bases, copied with unique tails: building a
    // fresh host per file would make the tree builder the slow part.
    std::vector<synth::Bytes> images, dlls;
    // Padded to 48 to 160 KiB, so that the tree's bytes are those of a
    // program folder (about 1 GB for 20,000 files) and not just headers.
    for (uint32_t i = 0; i < 8; ++i) {
        synth::HostOptions image;
        image.minFileSize = (48u + 16u * i) * 1024u;
        images.push_back(synth::MakeCleanHost(seed * 1000 + i, image).bytes);
        synth::HostOptions dll = image;
        dll.dll = true;
        dlls.push_back(synth::MakeCleanHost(seed * 2000 + i, dll).bytes);
    }
    synth::Rng rng(seed);
    uint64_t bytesWritten = 0;
    for (uint32_t n = 0; n < files; ++n) {
        const std::string folder = root + "/d" + std::to_string(n / 1000) + "/e" + std::to_string(n / 100 % 10);
        if (n % 100 == 0) std::filesystem::create_directories(folder, error);
        std::string name;
        synth::Bytes bytes;
        if (n < threats.size()) {
            name = threats[n].name + ".exe";
            bytes = threats[n].bytes;
            std::fprintf(list, "%s/%s\n", folder.c_str(), name.c_str());
        } else {
            switch (n % 4) {
                case 0:
                    bytes = images[n % images.size()];
                    AppendTail(bytes, n);
                    name = "prog" + std::to_string(n) + ".exe";
                    break;
                case 1:
                    bytes = dlls[n % dlls.size()];
                    AppendTail(bytes, n);
                    name = "lib" + std::to_string(n) + ".dll";
                    break;
                case 2:
                    bytes = synth::MakeFile(synth::FileKind::Random, rng.Between(1024, 65536), seed + n);
                    name = "data" + std::to_string(n) + ".bin";
                    break;
                default:
                    bytes = synth::MakeFile(synth::FileKind::Text, rng.Between(200, 3200), seed + n);
                    name = "note" + std::to_string(n) + ".txt";
                    break;
            }
        }
        if (!synth::WriteBytes(folder + "/" + name, bytes)) {
            std::fprintf(stderr, "velmora-bench-tree: cannot write %s/%s\n", folder.c_str(), name.c_str());
            return 1;
        }
        bytesWritten += bytes.size();
    }
    std::fclose(list);
    std::printf("%lu files, %.2f MB in %s\n", static_cast<unsigned long>(files), static_cast<double>(bytesWritten) / 1e6,
                root.c_str());
    return 0;
}
