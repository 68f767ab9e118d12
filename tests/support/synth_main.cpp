// velmora-synth OUTDIR [SEED] [--expect EXPECTDIR] [--inside ROWS]
// Writes the harmless sample corpus into OUTDIR, one file per sample named
// after it with ".exe" appended. The same seed always writes the same bytes.
// With --expect, EXPECTDIR receives what a full disinfection of OUTDIR must
// leave behind: repaired hosts as their clean originals, worm copies absent,
// everything else (clean files, near misses, warnings) unchanged.
// With --inside, OUTDIR also gets mail folders and archives with threats
// inside (in Correo/ and Archivos/; never changed by a scan), and ROWS their
// rows, "relative/path<TAB>status" each, then the report's lines about them.
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <system_error>

#include "tests/support/inside_samples.h"
#include "tests/support/synth.h"

namespace {

int Usage() {
    std::fprintf(stderr, "usage: velmora-synth OUTDIR [SEED] [--expect EXPECTDIR] [--inside ROWS]\n");
    return 2;
}

bool ParseSeed(const char* text, uint32_t* seed) {
    if (text[0] == '-') return false;
    char* end = nullptr;
    errno = 0;
    const unsigned long long value = std::strtoull(text, &end, 0);
    if (end == text || *end != '\0' || errno != 0 || value > 0xFFFFFFFFull) return false;
    *seed = static_cast<uint32_t>(value);
    return true;
}

bool MakeFolder(const std::string& folder) {
    std::error_code error;
    std::filesystem::create_directories(folder, error);
    if (error) std::fprintf(stderr, "velmora-synth: cannot create %s: %s\n", folder.c_str(), error.message().c_str());
    return !error;
}

bool Write(const std::string& folder, const synth::Sample& sample, const synth::Bytes& bytes) {
    const std::string path = (std::filesystem::path(folder) / (sample.name + ".exe")).string();
    if (synth::WriteBytes(path, bytes)) return true;
    std::fprintf(stderr, "velmora-synth: cannot write %s\n", path.c_str());
    return false;
}

bool WriteInside(const std::string& outFolder, const std::string& expectFolder, const std::string& rowsPath,
                 uint32_t seed) {
    std::string rows;
    for (const synth::InsideSample& sample : synth::BuildInsideSamples(seed)) {
        for (const std::string& folder : {outFolder, expectFolder}) {
            if (folder.empty()) continue;
            const std::filesystem::path path = std::filesystem::path(folder) / sample.path;
            if (!MakeFolder(path.parent_path().string())) return false;
            if (!synth::WriteBytes(path.string(), sample.bytes)) {
                std::fprintf(stderr, "velmora-synth: cannot write %s\n", path.string().c_str());
                return false;
            }
        }
        for (const std::string& status : sample.statuses) rows += sample.path + "\t" + status + "\n";
    }
    for (const std::string& line : synth::InsideReportLines()) rows += line + "\n";
    if (synth::WriteBytes(rowsPath, synth::Bytes(rows.begin(), rows.end()))) return true;
    std::fprintf(stderr, "velmora-synth: cannot write %s\n", rowsPath.c_str());
    return false;
}

}  // namespace

int main(int argc, char** argv) {
    std::string outFolder;
    std::string expectFolder;
    std::string insideRows;
    bool seedGiven = false;
    uint32_t seed = 1;
    for (int i = 1; i < argc; ++i) {
        if (std::strcmp(argv[i], "--expect") == 0) {
            if (i + 1 >= argc || !expectFolder.empty()) return Usage();
            expectFolder = argv[++i];
        } else if (std::strcmp(argv[i], "--inside") == 0) {
            if (i + 1 >= argc || !insideRows.empty()) return Usage();
            insideRows = argv[++i];
        } else if (outFolder.empty()) {
            outFolder = argv[i];
        } else if (!seedGiven && ParseSeed(argv[i], &seed)) {
            seedGiven = true;
        } else {
            return Usage();
        }
    }
    if (outFolder.empty()) return Usage();
    if (!MakeFolder(outFolder) || (!expectFolder.empty() && !MakeFolder(expectFolder))) return 1;

    const std::vector<synth::Sample> corpus = synth::BuildCorpus(seed);
    for (const synth::Sample& sample : corpus) {
        if (!Write(outFolder, sample, sample.bytes)) return 1;
        if (expectFolder.empty()) continue;
        if (!sample.layers.empty()) {
            if (!Write(expectFolder, sample, sample.clean)) return 1;
        } else if (sample.verdict != 1) {
            if (!Write(expectFolder, sample, sample.bytes)) return 1;
        }  // an infected file with nothing to repair is a worm copy: deleted
    }
    if (!insideRows.empty() && !WriteInside(outFolder, expectFolder, insideRows, seed)) return 1;
    std::printf("%lu samples written to %s (seed %lu)\n", static_cast<unsigned long>(corpus.size()),
                outFolder.c_str(), static_cast<unsigned long>(seed));
    return 0;
}
