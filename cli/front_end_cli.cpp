// The command line's front end: rows go to standard output as
// "object<TAB>status" lines, the report included.
#include "cli/front_end_cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/progress.h"
#include "cli/row_text.h"
#include "scan/front_end.h"
#include "scan/report.h"
#include "scan/texts.h"
#include "scan/scan_state.h"

bool outputFailed = false;
bool scanErrors = false;

void ShowObject(const char* path) { ProgressFolder(path); }

void ReportScanError(const char* path, const char* reason) {
    scanErrors = true;
    std::string line = "velmora-scan: ";
    AppendEscaped(&line, path);
    line.append(": ").append(reason).push_back('\n');
    ProgressClear();
    std::fputs(line.c_str(), stderr);
}

// Each row is flushed as it comes, so that a reader sees it at once and a
// failed write is noticed at once. A failed write stops the scan as an
// interrupt would: the file in hand is finished, nothing more is written.
void AddResultRow(const char* object, const char* status) {
    // The walk of the shared path buffer passes over what does not fit it.
    if (std::strcmp(status, PathTooLongText) == 0) ReportScanError(object, "an entry's path is too long; it is not examined");
    if (outputFailed) return;
    std::string row;
    AppendEscaped(&row, object);
    row.append("\t").append(status).push_back('\n');
    ProgressClear();
    if (std::fputs(row.c_str(), stdout) >= 0 && std::fflush(stdout) == 0) return;
    const int error = errno;
    outputFailed = true;
    keepScanning.store(0, std::memory_order_relaxed);
    std::fprintf(stderr, "velmora-scan: cannot write the results (%s); the scan stops after the file in hand\n",
                 std::strerror(error));
}

void ReportResults() {
    ProgressEnd();
    WriteReportRows();
}
