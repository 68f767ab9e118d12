// velmora-bench-inside mail DIR MEGABYTES SEED
// velmora-bench-inside archive DIR MEGABYTES SEED
// velmora-bench-inside inflate RANGES
// The mixes of the benchmark of what lies inside files: mail folders (mbox,
// Outlook Express .dbx, .eml) or archives (ZIP stored and deflated, RAR 4
// and RAR5 stored) of about MEGABYTES MiB under DIR (emptied first), one
// attachment or entry in 100 a worm copy. Prints the number of planted
// worm copies first ("N infected in ..."); DIR.planted lists the files that
// hold any, with how many. An archive mix also lists its deflated entries'
// compressed bytes in DIR.deflated, which `inflate` inflates from memory,
// timed: the part of the archive floor that reading alone does not cover.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>

#include "bench/inside.h"
#include "bench/inside_content.h"

namespace {

int Usage() {
    std::fprintf(stderr,
                 "usage: velmora-bench-inside mail|archive DIR MEGABYTES SEED\n"
                 "       velmora-bench-inside inflate RANGES\n");
    return 2;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 3 && std::strcmp(argv[1], "inflate") == 0) return inside::InflateRanges(argv[2]);
    if (argc != 5) return Usage();
    const bool mail = std::strcmp(argv[1], "mail") == 0;
    if (!mail && std::strcmp(argv[1], "archive") != 0) return Usage();
    std::string dir = argv[2];
    while (dir.size() > 1 && dir.back() == '/') dir.pop_back();
    const uint64_t megabytes = inside::ParseMegabytes(argv[3]);
    const uint32_t seed = static_cast<uint32_t>(std::strtoul(argv[4], nullptr, 10));
    if (megabytes == 0) {
        std::fprintf(stderr, "velmora-bench-inside: MEGABYTES is a whole number from 1 to 1048576\n");
        return 2;
    }

    std::error_code error;
    std::filesystem::remove_all(dir, error);
    std::filesystem::create_directories(dir, error);
    inside::Ledger ledger(dir + ".planted");
    if (!ledger.ok()) {
        std::fprintf(stderr, "velmora-bench-inside: cannot write %s.planted\n", dir.c_str());
        return 1;
    }
    bool written = false;
    if (mail) {
        written = inside::WriteMailMix(dir, megabytes << 20, seed, ledger);
    } else {
        std::FILE* ranges = std::fopen((dir + ".deflated").c_str(), "w");
        written = ranges != nullptr && inside::WriteArchiveMix(dir, megabytes << 20, seed, ranges, ledger);
        if (ranges != nullptr && std::fclose(ranges) != 0) written = false;
    }
    if (!written) return 1;
    std::printf("%u infected in %u %s, %u files, %llu bytes under %s\n", ledger.infected, ledger.items,
                mail ? "attachments" : "entries", ledger.files, static_cast<unsigned long long>(ledger.bytes),
                dir.c_str());
    return 0;
}
