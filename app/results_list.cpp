// The dialog's side of the scan's output. Called on the worker thread (and
// ShowObject also on the user-interface thread): every control message is
// sent, so the user-interface thread handles it before the call returns and
// the callers may reuse their buffers at once.
#include <windows.h>
#include <commctrl.h>

#include "app/program.h"
#include "app/resource_ids.h"
#include "app/row_batch.h"
#include "app/texts.h"
#include "scan/front_end.h"
#include "scan/report.h"
#include "scan/scan_state.h"

namespace {

void SetRowText(HWND list, int row, int column, const char* text) {
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

}  // namespace

void ShowObject(const char* path) { SetDlgItemTextA(MainDialog, IDC_OBJECT, path[0] != '\0' ? path : AllDrivesText); }

// Queued, not sent: the dialog inserts the rows in batches (app/row_batch.h).
void AddResultRow(const char* object, const char* status) { QueueRow(object, status); }

void InsertResultRow(const char* object, const char* status) {
    LVITEMA item{};
    item.iItem = 0x7FFFFFFF;  // after the last row
    const HWND list = GetDlgItem(MainDialog, IDC_RESULTS);
    const int index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    SetRowText(list, index, 0, object);
    SetRowText(list, index, 1, status);
    // Not drawn nor scrolled here: the dialog shows the new rows, the last
    // one in view, once a batch is in.
}

void ReportResults() {
    // The walk is over: from here on the session may end at any moment.
    workerProgress = WorkerReporting;
    SetDlgItemTextA(MainDialog, IDC_SCAN, ScanButtonText);
    WriteReportRows();
    SendMessageA(MainDialog, WM_SHOW_ROWS, 0, 0);
    // Whenever something infected was found, repaired or not; the worker
    // waits here while the dialog stays usable.
    if (ScanStatistics.infected != 0 && sessionEnding == 0) {
        seamMessageBox(nullptr, RestartWarning, ProgramCaption, MB_OK | MB_ICONWARNING);
    }
    // The buttons and the idle state are the dialog's to change: it does so
    // when this message arrives, on its own thread.
    workerProgress = WorkerDone;
    if (!PostMessageA(MainDialog, WM_SCAN_FINISHED, 0, 0)) SendMessageA(MainDialog, WM_SCAN_FINISHED, 0, 0);
}

// The rows already say all the dialog shows: a file that could not be
// opened gets its row when it matters, a folder that could not be listed is
// passed over in silence, and the object field shows the folder in hand.
void NoteUnopenedFile(const char*) {}
void NoteUnlistedFolder(const char*, FolderProblem, int) {}
void NotePathTooLong(const char*) {}
void NoteFileExamined() {}
// The dialog keeps nothing of what it changes.
bool SaveBeforeChange(const HandledEntry&, FileHandle) { return true; }
void NoteChangeDone(HandledEntry*, ChangeOutcome, const char*) {}
