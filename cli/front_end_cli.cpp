// The command line's front end: rows go to standard output as
// "object<TAB>status" lines, the report included; what could not be
// examined goes to standard error.
#include "cli/front_end_cli.h"

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/console_text.h"
#include "cli/progress.h"
#include "cli/quarantine.h"
#include "cli/row_text.h"
#include "cli/system_error.h"
#include "cli/texts.h"
#include "scan/front_end.h"
#include "scan/report.h"
#include "scan/scan_state.h"

void ShowObject(const char* path) { ProgressFolder(path); }

// Each row is flushed as it comes (WriteText), so that a reader sees it at
// once and a failed write, to a file, a pipe or a console alike, is noticed
// at once. A failed write stops the scan as an interrupt would: the file in
// hand is finished, nothing more is written.
void AddResultRow(const char* object, const char* status) {
    if (outputFailed) return;
    std::string row;
    AppendRowPath(&row, object);
    row.push_back('\t');
    AppendStatus(&row, status);
    row.push_back('\n');
    ProgressClear();
    if (WriteText(stdout, row)) return;
    const char* reason = std::strerror(errno);
    outputFailed = true;
    keepScanning.store(0, std::memory_order_relaxed);
    std::vector<char> text(std::strlen(OutputFailedText) + std::strlen(reason) + 1);
    std::snprintf(text.data(), text.size(), OutputFailedText, reason);
    std::string message = ProgramPrefix;
    message.append(text.data()).push_back('\n');
    WriteText(stderr, message);
}

void ReportResults() {
    ProgressEnd();
    WriteReportRows();
}

// A file that merely went away since it was listed is no error.
void NoteUnopenedFile(const char* path) {
    const int error = LastSystemError();
    if (IsGoneError(error)) return;
    if (IsReplacedError(error)) {
        ReportScanError(path, ReplacedFileText);
    } else {
        ReportScanError(path, UnopenedFileText, error);
    }
}

void NoteUnlistedFolder(const char* path, FolderProblem problem, int error) {
    switch (problem) {
        case FolderProblem::Unlisted:
            if (!IsGoneError(error)) ReportScanError(path, UnlistedFolderText, error);
            return;
        case FolderProblem::Unopened:
            if (!IsGoneError(error)) ReportScanError(path, UnopenedFolderText, error);
            return;
        case FolderProblem::Replaced:
            ReportScanError(path, ReplacedFolderText);
            return;
        case FolderProblem::Moved:
            ReportScanError(path, MovedFolderText);
            return;
        case FolderProblem::OtherDevice:
            ReportScanNote(path, OtherDeviceText);
            return;
    }
}

void NotePathTooLong(const char* path) { ReportScanError(path, EntryTooLongText); }

void NoteFileExamined() { ProgressTick(); }

bool SaveBeforeChange(const HandledEntry& file, FileHandle examined) {
    return !QuarantineActive() || SaveToQuarantine(file, examined);
}

void NoteChangeDone(HandledEntry* file, ChangeOutcome outcome, const char* curedCopy) {
    if (QuarantineActive()) RecordChange(file, outcome, curedCopy);
}
