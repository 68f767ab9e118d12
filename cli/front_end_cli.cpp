// The command line's front end: rows go to standard output as
// "object<TAB>status" lines, the report included.
#include <cstdio>

#include "scan/front_end.h"
#include "scan/report.h"

void ShowObject(const char*) {}

void AddResultRow(const char* object, const char* status) { std::printf("%s\t%s\n", object, status); }

void ReportResults() {
    WriteReportRows();
    std::fflush(stdout);
}
