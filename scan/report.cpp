#include "scan/report.h"

#include <cstdio>

#include "scan/front_end.h"
#include "scan/scan_state.h"

namespace {

struct ReportLine {
    const char* label;
    int32_t ScanCounters::*counter;
};

const ReportLine ReportLines[] = {
    {"Carpetas:", &ScanCounters::folders},
    {"Ficheros:", &ScanCounters::files},
    {"Infectado:", &ScanCounters::infected},
    {"Advertencias:", &ScanCounters::warnings},
    {"Sospechoso:", &ScanCounters::suspicious},
    {"Desinfectado:", &ScanCounters::disinfected},
    {"Eliminado:", &ScanCounters::deleted},
    {"Desinfectado al reinicio:", &ScanCounters::disinfectedAtRestart},
    {"Eliminado al reinicio:", &ScanCounters::deletedAtRestart},
    {"Incapaz de desinfectar:", &ScanCounters::failed},
};

}  // namespace

void WriteReportRows() {
    AddResultRow("Infome del analisis", "");
    for (const ReportLine& line : ReportLines) {
        char value[16];
        std::snprintf(value, sizeof value, "%d", static_cast<int>(ScanStatistics.*line.counter));
        AddResultRow(line.label, value);
    }
}
