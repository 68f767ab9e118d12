#include "tests/scan_recorder.h"

#include "scan/front_end.h"
#include "scan/report.h"

namespace recorder {

std::vector<Row> rows;
std::vector<std::string> shownObjects;
int reports = 0;
std::vector<std::string> notes;
int filesExamined = 0;
bool saveSucceeds = true;
std::vector<std::string> changes;
std::function<void(const Row&)> onRow;
std::function<void(const std::string&)> onShow;

void Reset() {
    rows.clear();
    shownObjects.clear();
    reports = 0;
    notes.clear();
    filesExamined = 0;
    saveSucceeds = true;
    changes.clear();
    onRow = nullptr;
    onShow = nullptr;
}

std::string Dump() {
    std::string text;
    for (const Row& row : rows) text += row.object + "|" + row.status + "\n";
    return text;
}

}  // namespace recorder

void ShowObject(const char* path) {
    recorder::shownObjects.emplace_back(path);
    if (recorder::onShow) recorder::onShow(recorder::shownObjects.back());
}

void AddResultRow(const char* object, const char* status) {
    recorder::rows.push_back({object, status});
    if (recorder::onRow) recorder::onRow(recorder::rows.back());
}

void ReportResults() {
    recorder::reports += 1;
    WriteReportRows();
}

void NoteUnopenedFile(const char* path) { recorder::notes.push_back(std::string("unopened ") + path); }

void NoteUnlistedFolder(const char* path, FolderProblem problem, int) {
    const char* kind = problem == FolderProblem::Unlisted   ? "unlisted "
                       : problem == FolderProblem::Unopened ? "unopened-folder "
                       : problem == FolderProblem::Replaced ? "replaced "
                                                            : "moved ";
    recorder::notes.push_back(kind + std::string(path));
}

void NotePathTooLong(const char* path) { recorder::notes.push_back(std::string("too-long ") + path); }

void NoteFileExamined() { recorder::filesExamined += 1; }

bool SaveBeforeChange(const HandledEntry& file, FileHandle examined) {
    uint32_t size = 0;
    FileGetSize(examined, &size);
    recorder::changes.push_back("saved " + std::string(file.path) + " " + std::to_string(size));
    return recorder::saveSucceeds;
}

void NoteChangeDone(HandledEntry* file, ChangeOutcome outcome, const char* curedCopy) {
    static const char* const Names[] = {"disinfected", "deleted", "disinfected-at-restart", "deleted-at-restart",
                                        "failed"};
    std::string text = "done " + std::string(file->path) + " " + Names[static_cast<int>(outcome)];
    if (curedCopy != nullptr) text += " " + std::string(curedCopy);
    recorder::changes.push_back(text);
}
