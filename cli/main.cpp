// velmora-scan: the scan of the dialog, driven from the command line.
#include <cstring>
#include <string>
#include <vector>

#include "cli/command_line.h"
#include "cli/console_text.h"
#include "cli/front_end_cli.h"
#include "cli/progress.h"
#include "cli/quarantine.h"
#include "cli/starting_path.h"
#include "cli/stop_requests.h"
#include "cli/texts.h"
#include "scan/front_end.h"
#include "scan/scan_state.h"
#include "scan/tree_walk.h"

#ifndef VELMORA_VERSION
#define VELMORA_VERSION "0.0.0"
#endif

namespace {

// The exit status is a set of bits, so that no outcome hides another: a
// script learns of an error even when something was also found. A stopped
// scan (a signal, or results that could not be written) covers only part of
// what was asked for, which counts as an error.
constexpr int ExitFound = 1;
constexpr int ExitError = 2;
constexpr int ExitNotDisinfected = 4;

int UsageError(const char* message, const char* detail) {
    std::string line = ProgramPrefix;
    line.append(message).append(detail).push_back('\n');
    WriteText(stderr, line);
    return ExitError;
}

// --help and --version succeed only if their text was written.
int PrintText(const char* text) { return WriteText(stdout, text, std::strlen(text)) ? 0 : ExitError; }

int ExitStatus(bool stopped) {
    int status = 0;
    // Threats inside mail folders and archives are found too, though only
    // reported.
    const int32_t found = ScanStatistics.infected + ScanStatistics.warnings + ScanStatistics.suspicious +
                          ScanStatistics.infectedMessages + ScanStatistics.infectedArchives;
    if (found > 0) status |= ExitFound;
    if (scanErrors || outputFailed || stopped) status |= ExitError;
    const int32_t unfinished = ScanStatistics.failed + ScanStatistics.disinfectedAtRestart + ScanStatistics.deletedAtRestart;
    if (!detectOnly && unfinished > 0) status |= ExitNotDisinfected;
    return status;
}

struct Options {
    std::vector<const char*> paths;
    bool quiet = false;
    const char* quarantine = nullptr;
    const char* restore = nullptr;
    bool oneFileSystem = false;
};

// 1 to MostScanReaders, in decimal digits only.
bool ParseJobs(const char* text) {
    uint32_t jobs = 0;
    for (const char* c = text; *c != '\0'; ++c) {
        if (*c < '0' || *c > '9' || jobs > MostScanReaders) return false;
        jobs = jobs * 10 + static_cast<uint32_t>(*c - '0');
    }
    if (jobs < 1 || jobs > MostScanReaders) return false;
    scanReaders = jobs;
    return true;
}

// Parses the arguments; -1 when the scan may go on, otherwise the exit
// status of a run that ends here (--help, --version, a usage error).
int ParseArguments(int argc, char** argv, Options* options) {
    bool optionsEnded = false;
    for (int i = 1; i < argc; ++i) {
        const char* arg = argv[i];
        const bool option = !optionsEnded && arg[0] == '-' && arg[1] != '\0';
        if (!option) {
            options->paths.push_back(arg);
        } else if (std::strcmp(arg, "--") == 0) {
            optionsEnded = true;
        } else if (std::strcmp(arg, "--help") == 0) {
            return PrintText(UsageText);
        } else if (std::strcmp(arg, "--version") == 0) {
            return PrintText("velmora-scan " VELMORA_VERSION "\n");
        } else if (std::strcmp(arg, "--detect-only") == 0) {
            detectOnly = true;
        } else if (std::strcmp(arg, "--quiet") == 0) {
            options->quiet = true;
        } else if (std::strcmp(arg, "-x") == 0 || std::strcmp(arg, "--one-file-system") == 0) {
            options->oneFileSystem = true;
        } else if (std::strcmp(arg, "-j") == 0 || std::strcmp(arg, "--jobs") == 0) {
            if (i + 1 == argc) return UsageError(MissingArgumentText, arg);
            if (!ParseJobs(argv[++i])) return UsageError(BadJobsText, argv[i]);
        } else if (std::strcmp(arg, "--quarantine") == 0 || std::strcmp(arg, "--restore") == 0) {
            if (i + 1 == argc) return UsageError(MissingArgumentText, arg);
            (arg[2] == 'q' ? options->quarantine : options->restore) = argv[++i];
        } else {
            return UsageError(UnknownOptionText, arg);
        }
    }
    if (options->restore == nullptr && options->paths.empty()) return UsageError(NoPathText, "");
    return -1;
}

// Every starting path is checked before anything is scanned, so that a
// typing error does not pass as a clean result; each bad one is named. The
// checks keep nothing open, so any number of paths may be given.
bool CheckStartingPaths(const std::vector<const char*>& paths, std::vector<StartingPath>* starts) {
    bool usable = true;
    for (const char* path : paths) {
        StartingPath start{};
        if (!CheckStartingPath(path, &start)) {
            usable = false;
            continue;
        }
        bool repeated = false;
        for (const StartingPath& earlier : *starts) repeated = repeated || SameStartingPath(earlier, start);
        if (!repeated) starts->push_back(start);
    }
    return usable;
}

// The quarantine folder is opened before the scan and never walked, even
// when it lies in the tree: what it holds is the scan's own.
bool OpenQuarantineFolder(const char* folder) {
    if (!OpenQuarantine(folder)) return false;
    treeLimits.skipFolder = FolderIdentity(folder, &treeLimits.skipDevice, &treeLimits.skipInode);
    treeLimits.skipPath = folder;
    return true;
}

}  // namespace

int main(int argc, char** argv) {
    // Lives as long as the run: the options and the paths point into it.
    CommandLine line;
    ReadCommandLine(argc, argv, &line);
    Options options;
    const int ended = ParseArguments(line.count, line.arguments.data(), &options);
    if (ended >= 0) return ended;
    if (options.restore != nullptr) return RestoreFromQuarantine(options.restore, options.paths);

    std::vector<StartingPath> starts;
    if (!CheckStartingPaths(options.paths, &starts)) return ExitError;
    if (options.quarantine != nullptr && !detectOnly && !OpenQuarantineFolder(options.quarantine)) return ExitError;
    treeLimits.stayOnDevice = options.oneFileSystem;

    ResetScanStatistics();
    keepScanning.store(1, std::memory_order_relaxed);
    InstallStopRequests();
    ProgressStart(options.quiet);
    for (size_t i = 0; i < starts.size() && StillScanning(); ++i) {
        ScanStartingPath(&starts[i]);
    }
    CloseQuarantine();
    // Only a stop request clears the flag during the scan; read it once, so
    // that the exit status says what the report covers.
    const bool stopped = !StillScanning();
    ReportResults();
    ScanFinished();
    if (stopped && !outputFailed) {
        std::string message = ProgramPrefix;
        message.append(InterruptedText).push_back('\n');
        WriteText(stderr, message);
    }
    return ExitStatus(stopped);
}
