// What the mail and archive mixes of the benchmark are made of: clean
// contents that compress about as real ones do (word text, program images
// whose code repeats itself), pseudo-random data that does not compress,
// and the worm copies planted among them. Building a fresh program for
// every attachment would make the generator the slow part, so clean
// contents come from pools made once per run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/synth.h"

namespace inside {

using synth::Bytes;

// One infected item in this many (attachments, archive entries).
constexpr uint32_t InfectedEvery = 100;

enum class Kind { Program, Text, Random };

// A clean content made once and handed out many times.
struct Pooled {
    Kind kind = Kind::Random;
    Bytes raw;
    Bytes deflated;     // raw deflate of raw (empty for Random: stored)
    uint32_t crc = 0;   // ZIP's CRC-32 of raw
    std::string base64;  // raw as an attachment's body, CR LF lines
};

class Pool {
public:
    // perKind contents of each kind, sizes drawn from [lowest, highest].
    Pool(uint32_t seed, size_t perKind, uint32_t lowest, uint32_t highest, bool deflate, bool base64);
    const Pooled& Draw(synth::Rng& rng) const;

private:
    std::vector<Pooled> items_;
};

// Word text of about size bytes, CR LF lines of at most 76 characters.
// No line begins with "From ", so it can stand in an mbox.
std::string WordText(synth::Rng& rng, size_t size);

// A PE image of about size bytes (at least 8 KiB): code made of recurring
// instruction-like snippets, strings, mostly zero data.
Bytes ProgramImage(synth::Rng& rng, size_t size);

// Raw deflate at zlib's default level (what archivers use).
Bytes Deflate(const Bytes& data);

// The worm copy planted as the n-th infected item (rows in turn).
synth::Sample PlantedWorm(uint32_t n, uint32_t seed);

// Whole mebibytes from the command line, 1 to 1,048,576 (1 TiB); 0 if none.
uint64_t ParseMegabytes(const char* text);

// Creates path's folders and writes bytes; false, with a message, on failure.
bool WriteFile(const std::string& path, const void* data, size_t size);

}  // namespace inside
