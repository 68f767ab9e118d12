// Detection, then repair of what was found, over arbitrary bytes. A repair
// must never change a file's size, and one that does not report success
// must not have changed a byte.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "engine/detectors.h"
#include "scan/repair.h"

namespace {

std::string ScratchPath() {
    std::random_device entropy;
    const unsigned long long token = (static_cast<unsigned long long>(entropy()) << 32) ^ entropy();
    std::error_code ec;
    std::filesystem::path dir = std::filesystem::temp_directory_path(ec);
    if (ec) dir = "/tmp";
    return (dir / ("velmora-repair-fuzz-" + std::to_string(token) + ".bin")).string();
}

struct Scratch {
    std::string path = ScratchPath();
    ~Scratch() {
        std::error_code ec;
        std::filesystem::remove(path, ec);
    }
};

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "repair_fuzz: %s\n", what);
    std::abort();
}

std::vector<uint8_t> ReadAll(const std::string& path) {
    std::ifstream in(path, std::ios::binary);
    return std::vector<uint8_t>(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static Scratch scratch;
    // Detection runs from memory, through the same view as a file; only an
    // input that is found infected is written out for the repair, which
    // works on a real read/write handle.
    FileCheckContext context;
    context.path = scratch.path.c_str();
    if (DetectThreatInMemory(&context, data, size) != VerdictInfected) return 0;
    {
        std::ofstream out(scratch.path, std::ios::binary | std::ios::trunc);
        out.write(reinterpret_cast<const char*>(data), static_cast<std::streamsize>(size));
        if (!out) Fail("cannot write the scratch file");
    }

    context.file = FileOpen(scratch.path.c_str(), OpenMode::ReadWrite);
    if (context.file == InvalidFileHandle) Fail("cannot open the scratch file for writing");
    const RepairResult result = RepairFile(&context);
    FileClose(context.file);

    const std::vector<uint8_t> after = ReadAll(scratch.path);
    if (after.size() != size) Fail("the repair changed the file's size");
    if (result != RepairDone && !std::equal(after.begin(), after.end(), data)) {
        Fail("a repair that did not succeed changed the file");
    }
    if (result != RepairDone && result != RepairBodyNotFound && result != RepairDeleteFile) {
        Fail("unexpected repair result");
    }
    return 0;
}
