// Detection over arbitrary bytes. The engine reads through the file
// primitives, so every input goes through a real file: the harness keeps one
// scratch file per process and rewrites it for each input.

#include "engine/detectors.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <random>
#include <string>
#include <system_error>

namespace {

// One name per process, so parallel fuzzing jobs (-jobs/-fork) and replays
// never write into each other's file. The file goes away at exit.
class ScratchFile {
public:
    ScratchFile() {
        std::random_device entropy;
        const unsigned long long token =
            (static_cast<unsigned long long>(entropy()) << 32) ^ entropy();
        path_ = (ScratchFolder() / ("velmora-detect-fuzz-" + std::to_string(token) + ".bin")).string();
    }
    ~ScratchFile() {
        std::error_code ec;
        std::filesystem::remove(path_, ec);
    }
    ScratchFile(const ScratchFile&) = delete;
    ScratchFile& operator=(const ScratchFile&) = delete;

    const std::string& Write(const uint8_t* data, size_t size) {
        std::ofstream out(path_, std::ios::binary | std::ios::trunc);
        if (size > 0) {
            out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        }
        out.close();
        if (!out) {
            // Going on would fuzz an empty or stale file and find nothing.
            std::fprintf(stderr, "detect_fuzz: cannot write %s\n", path_.c_str());
            std::abort();
        }
        return path_;
    }

private:
    // Rewriting a file for every input is the harness's main cost: in memory
    // (/dev/shm) it runs some fifty times faster than on a disk-backed /tmp.
    // An explicit TMPDIR still wins.
    static std::filesystem::path ScratchFolder() {
        std::error_code ec;
        if (std::getenv("TMPDIR") == nullptr && std::filesystem::is_directory("/dev/shm", ec)) {
            return "/dev/shm";
        }
        std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
        return ec ? std::filesystem::path("/tmp") : dir;
    }

    std::string path_;
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static ScratchFile scratch;
    const std::string& path = scratch.Write(data, size);

    FileHandle file = FileOpen(path.c_str(), 0);
    if (file == InvalidFileHandle) {
        std::fprintf(stderr, "detect_fuzz: cannot open %s\n", path.c_str());
        std::abort();
    }
    FileCheckContext context;
    context.path = path.c_str();
    context.file = file;
    const int verdict = DetectThreat(&context);
    FileClose(file);

    // The engine promises exactly these three results.
    if (verdict != VerdictClean && verdict != VerdictInfected && verdict != VerdictWarning) {
        std::fprintf(stderr, "detect_fuzz: DetectThreat returned %d\n", verdict);
        std::abort();
    }
    // A finding always names its threat; a clean file names none.
    if ((verdict == VerdictClean) != (context.threatName == nullptr)) {
        std::fprintf(stderr, "detect_fuzz: verdict %d with%s threat name\n", verdict,
                     context.threatName == nullptr ? "out a" : " a");
        std::abort();
    }
    // And it names it by an entry of the constant table, never by anything
    // derived from the file.
    if (context.threatName != nullptr) {
        bool inTable = false;
        for (const ThreatNameEntry& entry : ThreatNameTable) {
            inTable = inTable || context.threatName == &entry;
        }
        if (!inTable) {
            std::fprintf(stderr, "detect_fuzz: threat name outside the table\n");
            std::abort();
        }
    }
    return 0;
}
