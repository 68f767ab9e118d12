// The three jobs of velmora-bench-inside: a mix of mail folders, a mix of
// archives, and the inflate floor over the deflated entries of the latter.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>

namespace inside {

// What a mix holds, and where its infected items went: the ledger lists
// each file that holds any, with how many (PATH, tab, count), so that a run
// can tell which file the scanner read short.
class Ledger {
public:
    explicit Ledger(const std::string& path) : file_(std::fopen(path.c_str(), "w")) {}
    ~Ledger() {
        if (file_ != nullptr) std::fclose(file_);
    }
    Ledger(const Ledger&) = delete;
    Ledger& operator=(const Ledger&) = delete;

    bool ok() const { return file_ != nullptr; }
    // A file of size bytes written, holding held items, planted of them infected.
    void Add(const std::string& path, uint64_t size, uint32_t held, uint32_t planted) {
        files += 1;
        bytes += size;
        items += held;
        infected += planted;
        if (planted > 0 && file_ != nullptr) std::fprintf(file_, "%s\t%u\n", path.c_str(), planted);
    }

    uint32_t files = 0;
    uint64_t bytes = 0;
    uint32_t items = 0;
    uint32_t infected = 0;

private:
    std::FILE* file_;
};

// mbox files, Outlook Express folders and single messages under dir, about
// budget bytes in all. False when a file could not be written.
bool WriteMailMix(const std::string& dir, uint64_t budget, uint32_t seed, Ledger& ledger);

// ZIP (stored and deflated entries), RAR 4 and RAR5 (stored) under dir.
// Each deflated entry's compressed bytes go to ranges as PATH, tab, offset,
// tab, compressed size, tab, inflated size.
bool WriteArchiveMix(const std::string& dir, uint64_t budget, uint32_t seed, std::FILE* ranges, Ledger& ledger);

// Reads every listed range into memory, then inflates them all, timing only
// the inflating. Prints the seconds, wall and CPU; status 1 if a range
// does not inflate to its size.
int InflateRanges(const std::string& rangesPath);

}  // namespace inside
