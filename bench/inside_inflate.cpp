// The inflate floor: zlib's raw inflate over exactly the compressed bytes
// of the archive mix's deflated entries, from memory, into one reused
// output buffer. Reading the ranges is not timed (the whole-file floor pays
// for reading); the inflating is, and nothing else: its wall time and the
// CPU time it took.
#include <fcntl.h>
#include <unistd.h>
#include <zlib.h>

#include <time.h>

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "bench/inside.h"

namespace inside {

namespace {

constexpr size_t OutputChunk = 1u << 20;

struct Range {
    std::vector<uint8_t> packed;
    unsigned long long size = 0;  // inflated
};

// PATH, tab, offset, tab, compressed size, tab, inflated size.
bool ParseLine(char* line, std::string* path, unsigned long long* offset, unsigned long long* packed,
               unsigned long long* size) {
    char* tab = std::strchr(line, '\t');
    if (tab == nullptr) return false;
    *tab = '\0';
    *path = line;
    char* end = nullptr;
    *offset = std::strtoull(tab + 1, &end, 10);
    if (*end != '\t') return false;
    *packed = std::strtoull(end + 1, &end, 10);
    if (*end != '\t') return false;
    *size = std::strtoull(end + 1, &end, 10);
    return *end == '\n' || *end == '\0';
}

bool ReadRanges(const std::string& rangesPath, std::vector<Range>* ranges) {
    std::FILE* list = std::fopen(rangesPath.c_str(), "r");
    if (list == nullptr) return false;
    char line[4096];
    std::string openPath;
    int fd = -1;
    bool ok = true;
    while (ok && std::fgets(line, sizeof line, list) != nullptr) {
        std::string path;
        unsigned long long offset = 0, packed = 0, size = 0;
        // The ranges are our own, but a bad line must not become a huge
        // allocation: an entry of the mix is far below 1 GiB.
        ok = ParseLine(line, &path, &offset, &packed, &size) && packed <= (1ull << 30);
        if (!ok) break;
        if (path != openPath) {
            if (fd >= 0) close(fd);
            fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
            openPath = path;
        }
        Range range;
        range.packed.resize(packed);
        range.size = size;
        ok = fd >= 0 && pread(fd, range.packed.data(), packed, static_cast<off_t>(offset)) == static_cast<ssize_t>(packed);
        ranges->push_back(std::move(range));
    }
    if (fd >= 0) close(fd);
    std::fclose(list);
    return ok;
}

// The bytes the range inflated to, or ~0 when it is no complete stream.
unsigned long long Inflate(z_stream* z, Range& range, std::vector<uint8_t>& output) {
    inflateReset(z);
    z->next_in = range.packed.data();
    z->avail_in = static_cast<uInt>(range.packed.size());
    unsigned long long total = 0;
    for (;;) {
        z->next_out = output.data();
        z->avail_out = static_cast<uInt>(output.size());
        const int status = inflate(z, Z_NO_FLUSH);
        total += output.size() - z->avail_out;
        if (status == Z_STREAM_END) return total;
        if (status != Z_OK) return ~0ull;
    }
}

// On a shared machine the CPU time is what the inflating itself cost.
double CpuSeconds() {
    timespec now{};
    clock_gettime(CLOCK_PROCESS_CPUTIME_ID, &now);
    return static_cast<double>(now.tv_sec) + static_cast<double>(now.tv_nsec) / 1e9;
}

}  // namespace

int InflateRanges(const std::string& rangesPath) {
    std::vector<Range> ranges;
    if (!ReadRanges(rangesPath, &ranges)) {
        std::fprintf(stderr, "velmora-bench-inside: cannot read the ranges of %s\n", rangesPath.c_str());
        return 2;
    }
    z_stream z{};
    if (inflateInit2(&z, -MAX_WBITS) != Z_OK) return 2;
    std::vector<uint8_t> output(OutputChunk);
    unsigned long long packed = 0, inflated = 0;
    unsigned long wrong = 0;
    const auto start = std::chrono::steady_clock::now();
    const double cpuStart = CpuSeconds();
    for (Range& range : ranges) {
        const unsigned long long size = Inflate(&z, range, output);
        packed += range.packed.size();
        inflated += size == ~0ull ? 0 : size;
        if (size != range.size) wrong += 1;
    }
    const double cpu = CpuSeconds() - cpuStart;
    const double seconds = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    inflateEnd(&z);
    std::printf("%.6f seconds (%.6f of CPU) to inflate %zu entries, %llu bytes to %llu\n", seconds, cpu,
                ranges.size(), packed, inflated);
    if (wrong > 0) {
        std::fprintf(stderr, "velmora-bench-inside: %lu entries did not inflate to their size\n", wrong);
        return 1;
    }
    return 0;
}

}  // namespace inside
