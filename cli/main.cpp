// velmora-scan: the scan of the dialog, driven from the command line.
#include <cstdio>
#include <cstring>
#include <vector>

#include "cli/front_end_cli.h"
#include "cli/stop_requests.h"
#include "engine/file_io.h"
#include "scan/front_end.h"
#include "scan/fs.h"
#include "scan/scan_run.h"
#include "scan/scan_state.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "0.0.0"
#endif

namespace {

constexpr int ExitClean = 0;
constexpr int ExitFound = 1;
constexpr int ExitUsage = 2;
constexpr int ExitStopped = 3;

void PrintUsage(FILE* out) {
    std::fprintf(out,
                 "Usage: velmora-scan [--detect-only] PATH...\n"
                 "Examine every file under each PATH (a file is examined alone) for\n"
                 "Win32.Klez@mm (A, B, C, D, E, G, H) and Win32.Elkern (A, B, C):\n"
                 "infected hosts are repaired in place, worm copies are deleted.\n"
                 "Prints one line per finding or action (path, tab, status), then the report.\n"
                 "Exit status: 0 nothing found, 1 something found, 2 usage or path error,\n"
                 "3 stopped before the end (a signal, or the results could not be written).\n"
                 "  --detect-only  examine and report only; change no file\n"
                 "  --help         show this text\n"
                 "  --version      show the version\n");
}

int UsageError(const char* message, const char* detail) {
    std::fprintf(stderr, "velmora-scan: %s%s\n", message, detail);
    return ExitUsage;
}

// A starting path must be readable before anything is scanned, so that a
// typing error does not pass as a clean result.
bool Readable(const char* path, PathKind kind) {
    if (kind == PathFile) {
        FileHandle file = FileOpen(path, 0);
        if (file == InvalidFileHandle) return false;
        FileClose(file);
        return true;
    }
    if (kind != PathFolder) return false;
    char pattern[ObjectPathSize + 8];
    const size_t length = std::strlen(path);
    const bool hasSeparator = length > 0 && path[length - 1] == PathSeparator;
    const char separator[2] = {hasSeparator ? '\0' : PathSeparator, '\0'};
    std::snprintf(pattern, sizeof pattern, "%s%s*.*", path, separator);
    DirEntry entry;
    DirSearch* search = FindFirstEntry(pattern, &entry);
    if (search == nullptr) return false;
    FindCloseSearch(search);
    return true;
}

void ScanPath(const char* path, PathKind kind) {
    std::memcpy(CurrentObjectPath, path, std::strlen(path) + 1);
    if (kind == PathFolder) {
        WalkFolder();
    } else {
        HandleFile();
    }
}

}  // namespace

int main(int argc, char** argv) {
    std::vector<const char*> paths;
    bool options = true;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        if (options && std::strcmp(arg, "--") == 0) {
            options = false;
        } else if (options && std::strcmp(arg, "--help") == 0) {
            PrintUsage(stdout);
            return ExitClean;
        } else if (options && std::strcmp(arg, "--version") == 0) {
            std::printf("velmora-scan %s\n", VELMORA_VERSION);
            return ExitClean;
        } else if (options && std::strcmp(arg, "--detect-only") == 0) {
            detectOnly = true;
        } else if (options && arg[0] == '-' && arg[1] != '\0') {
            return UsageError("unknown option ", arg);
        } else {
            paths.push_back(arg);
        }
    }
    if (paths.empty()) return UsageError("no path given; try --help", "");

    std::vector<PathKind> kinds;
    for (const char* path : paths) {
        if (std::strlen(path) >= ObjectPathSize - 1) return UsageError("path too long: ", path);
        const PathKind kind = QueryPathKind(path);
        if (!Readable(path, kind)) return UsageError("cannot read ", path);
        kinds.push_back(kind);
    }

    ResetScanStatistics();
    keepScanning.store(1, std::memory_order_relaxed);
    InstallStopRequests();
    for (size_t i = 0; i < paths.size() && keepScanning.load(std::memory_order_relaxed) != 0; ++i) {
        ScanPath(paths[i], kinds[i]);
    }
    // Only a stop request clears the flag during the scan; read it once, so
    // that the exit status says what the report covers.
    const bool stopped = keepScanning.load(std::memory_order_relaxed) == 0;
    ReportResults();
    ScanFinished();

    if (stopped || outputFailed) return ExitStopped;
    const bool found = ScanStatistics.infected + ScanStatistics.warnings + ScanStatistics.suspicious > 0;
    return found ? ExitFound : ExitClean;
}
