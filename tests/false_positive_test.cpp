// Clean-file sweep: every Windows executable that Wine and the mingw-w64
// runtime install on this machine is a real, harmless PE file of the kinds
// the scanner meets in the field (DLLs, EXEs, drivers, control panels).
// None of them may be reported. The sweep refuses to pass when a group of
// folders yields no file at all, so a moved installation cannot turn it into
// a test of nothing.

#include "engine/detectors.h"

#include <gtest/gtest.h>

#include <cstddef>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <vector>

namespace fs = std::filesystem;

namespace {

// Folders are searched recursively; missing ones are skipped (the multiarch
// layout and the gcc version differ between releases), but each group as a
// whole must contribute files.
const std::vector<std::string> kWineFolders = {
    "/usr/lib/x86_64-linux-gnu/wine",
    "/usr/lib/i386-linux-gnu/wine",
    "/usr/lib/wine",
    "/usr/lib64/wine",
    "/opt/wine-stable/lib64/wine",
    "/opt/wine-stable/lib/wine",
};

const std::vector<std::string> kMingwFolders = {
    "/usr/lib/gcc/x86_64-w64-mingw32",
    "/usr/lib/gcc/i686-w64-mingw32",
    "/usr/x86_64-w64-mingw32/lib",
    "/usr/x86_64-w64-mingw32/bin",
    "/usr/i686-w64-mingw32/lib",
    "/usr/i686-w64-mingw32/bin",
};

bool StartsWithMz(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    char magic[2] = {0, 0};
    if (!in.read(magic, 2)) {
        return false;
    }
    return magic[0] == 'M' && magic[1] == 'Z';
}

std::vector<std::string> CollectPeFiles(const std::vector<std::string>& roots) {
    std::vector<std::string> found;
    for (const std::string& root : roots) {
        std::error_code ec;
        if (!fs::is_directory(root, ec)) {
            continue;
        }
        // Symbolic links are followed only as files: the folders link into
        // each other on some layouts and a directory cycle must not loop.
        fs::recursive_directory_iterator it(root, fs::directory_options::skip_permission_denied, ec);
        const fs::recursive_directory_iterator end;
        for (; !ec && it != end; it.increment(ec)) {
            std::error_code file_ec;
            if (!it->is_regular_file(file_ec) || file_ec) {
                continue;
            }
            if (StartsWithMz(it->path())) {
                found.push_back(it->path().string());
            }
        }
    }
    return found;
}

struct SweepResult {
    std::size_t checked = 0;
    std::vector<std::string> failures;
};

SweepResult Sweep(const std::vector<std::string>& files) {
    SweepResult result;
    for (const std::string& path : files) {
        FileHandle handle = FileOpen(path.c_str(), OpenMode::Read);
        if (handle == InvalidFileHandle) {
            result.failures.push_back(path + ": cannot be opened");
            continue;
        }
        FileCheckContext context;
        context.path = path.c_str();
        context.file = handle;
        const int verdict = DetectThreat(&context);
        FileClose(handle);
        ++result.checked;
        if (verdict != VerdictClean) {
            std::string line = path + ": verdict " + std::to_string(verdict);
            if (context.threatName != nullptr && context.threatName->text != nullptr) {
                line += std::string(" (") + context.threatName->text + ")";
            }
            result.failures.push_back(line);
        }
    }
    return result;
}

void ExpectAllClean(const char* group, const std::vector<std::string>& roots) {
    const std::vector<std::string> files = CollectPeFiles(roots);
    ASSERT_FALSE(files.empty()) << "no PE file found in the " << group
                                << " folders; the installation moved and the sweep would test nothing";
    const SweepResult result = Sweep(files);
    for (const std::string& failure : result.failures) {
        ADD_FAILURE() << failure;
    }
    EXPECT_EQ(result.checked, files.size());
    std::printf("%s: %zu PE files checked, %zu flagged or unreadable\n", group, files.size(),
                result.failures.size());
}

TEST(FalsePositives, WineLibrariesAreClean) {
    ExpectAllClean("wine", kWineFolders);
}

TEST(FalsePositives, MingwRuntimeIsClean) {
    ExpectAllClean("mingw-w64", kMingwFolders);
}

}  // namespace
