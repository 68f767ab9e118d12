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

// Lines about what lies inside mail folders and archives, shown only when
// there is something to count, each with what the user is to do.
struct AdviceLine {
    const char* label;
    int32_t ScanCounters::*counter;
    const char* advice;  // null: the count alone
};

const AdviceLine AdviceLines[] = {
    {InfectedMessagesLabel, &ScanCounters::infectedMessages, InfectedMessagesAdvice},
    {InfectedArchivesLabel, &ScanCounters::infectedArchives, InfectedArchivesAdvice},
    {NotExaminedLabel, &ScanCounters::notExamined, nullptr},
};

}  // namespace

void WriteReportRows() {
    AddResultRow(ReportHeading, "");
    for (const ReportLine& line : ReportLines) {
        char value[16];
        std::snprintf(value, sizeof value, "%d", static_cast<int>(ScanStatistics.*line.counter));
        AddResultRow(line.label, value);
    }
    for (const AdviceLine& line : AdviceLines) {
        const int count = static_cast<int>(ScanStatistics.*line.counter);
        if (count == 0) continue;
        char value[160];
        if (line.advice != nullptr) {
            std::snprintf(value, sizeof value, "%d (%s)", count, line.advice);
        } else {
            std::snprintf(value, sizeof value, "%d", count);
        }
        AddResultRow(line.label, value);
    }
}
