#include "cli/messages.h"

#include <string>

#include "cli/console_text.h"
#include "cli/progress.h"
#include "cli/row_text.h"
#include "cli/system_error.h"
#include "cli/texts.h"

bool outputFailed = false;
bool scanErrors = false;

void ReportScanError(const char* path, const char* reason, int error) {
    scanErrors = true;
    ReportScanNote(path, reason, error);
}

void ReportScanNote(const char* path, const char* reason, int error) {
    std::string line = ProgramPrefix;
    AppendRowPath(&line, path);
    line.append(": ").append(reason);
    if (error != 0) line.append(" (").append(SystemErrorText(error)).append(")");
    line.push_back('\n');
    ProgressClear();
    WriteText(stderr, line);
}
