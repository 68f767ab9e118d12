#include "scan/report.h"

#include <cstdio>

#include "scan/front_end.h"
#include "scan/scan_state.h"
#include "scan/texts.h"

namespace {

struct ReportLine {
    const char* label;
    int32_t ScanCounters::*counter;
};

const ReportLine ReportLines[] = {
    {FoldersLabel, &ScanCounters::folders},
    {FilesLabel, &ScanCounters::files},
    {InfectedLabel, &ScanCounters::infected},
    {WarningsLabel, &ScanCounters::warnings},
    {SuspiciousLabel, &ScanCounters::suspicious},
    {DisinfectedLabel, &ScanCounters::disinfected},
    {DeletedLabel, &ScanCounters::deleted},
    {DisinfectedAtRestartLabel, &ScanCounters::disinfectedAtRestart},
    {DeletedAtRestartLabel, &ScanCounters::deletedAtRestart},
    {FailedLabel, &ScanCounters::failed},
};

}  // namespace

void WriteReportRows() {
    AddResultRow(ReportHeading, "");
    for (const ReportLine& line : ReportLines) {
        char value[16];
        std::snprintf(value, sizeof value, "%d", static_cast<int>(ScanStatistics.*line.counter));
        AddResultRow(line.label, value);
    }
}
