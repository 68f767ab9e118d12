// The command line's front end: rows go to standard output as
// "object<TAB>status" lines, the report included.
#include "cli/front_end_cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>

#include "scan/front_end.h"
#include "scan/report.h"
#include "scan/scan_state.h"

bool outputFailed = false;

void ShowObject(const char*) {}

// Each row is flushed as it comes, so that a reader sees it at once and a
// failed write is noticed at once. A failed write stops the scan as an
// interrupt would: the file in hand is finished, nothing more is written.
void AddResultRow(const char* object, const char* status) {
    if (outputFailed) return;
    if (std::printf("%s\t%s\n", object, status) >= 0 && std::fflush(stdout) == 0) return;
    const int error = errno;
    outputFailed = true;
    keepScanning.store(0, std::memory_order_relaxed);
    std::fprintf(stderr, "velmora-scan: cannot write the results (%s); the scan stops after the file in hand\n",
                 std::strerror(error));
}

void ReportResults() { WriteReportRows(); }
