// The dialog's side of the scan's output. Called on the worker thread (and
// ShowObject also on the user-interface thread): every control message is
// sent, so the user-interface thread handles it before the call returns and
// the callers may reuse their buffers at once.
#include <windows.h>
#include <commctrl.h>

#include <cstring>
#include <memory>
#include <new>

#include <string>

#include "app/program.h"
#include "app/resource_ids.h"
#include "app/row_batch.h"
#include "app/texts.h"
#include "platform/code_page.h"
#include "platform/family.h"
#include "platform/wtf8.h"
#include "scan/front_end.h"
#include "scan/report.h"
#include "scan/scan_state.h"

namespace {

// On the NT family the texts are WTF-8 and reach the controls as the
// system's UTF-16; on the 95/98/Me family they are the code page's and go
// as they are. Shown texts are decoded leniently: a row may have been cut,
// and a fault in a name must not hide the rest of it.

// Writes the UTF-16 form of text[0, length) to out, terminated; out has room
// for room units, the terminator included. A text that does not fit is cut
// where a character begins first: no byte gives more than one unit, so room
// - 1 bytes always fit.
void DecodeShown(const char* text, size_t length, wchar_t* out, size_t room) {
    size_t units = DecodeWtf8(text, length, out, room - 1, true);
    if (units == NotWtf8) units = DecodeWtf8(text, CutAtCharacter(text, length, room - 1), out, room - 1, true);
    out[units] = L'\0';
}

// The status column never holds a name of the system's: only the scan's
// own texts (ASCII) and what it read inside mail and archives (subjects and
// names, UTF-8). On the 95/98/Me family that goes through the code page,
// every character it lacks shown as '?'; a path, in the other column, is
// the code page's already.
constexpr int StatusColumn = 1;

void SetRowTextA(HWND list, int row, int column, const char* text) {
    // The batch has cut the text to RowTextLimit bytes.
    char converted[2 * RowTextLimit + 1];
    const size_t length = std::strlen(text);
    if (column == StatusColumn && length <= RowTextLimit && ToCodePage(text, length, converted, sizeof converted)) {
        text = converted;
    }
    LVITEMA item{};
    item.iSubItem = column;
    item.pszText = const_cast<char*>(text);
    SendMessageA(list, LVM_SETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// A list view keeps its texts in UTF-16 whatever the dialog is, so the wide
// messages reach it from this code-page dialog as they are.
void SetRowText(HWND list, int row, int column, const char* text) {
    if (!IsNtFamily()) {
        SetRowTextA(list, row, column, text);
        return;
    }
    // The batch has cut the text to RowTextLimit bytes, hence units; a
    // longer one from elsewhere is cut here.
    wchar_t wide[RowTextLimit + 1];
    DecodeShown(text, std::strlen(text), wide, RowTextLimit + 1);
    LVITEMW item{};
    item.iSubItem = column;
    item.pszText = wide;
    SendMessageW(list, LVM_SETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
}

// The field of a path as long as the system's longest: the text goes to the
// heap, not onto the worker's stack. Should that fail, the field shows the
// path's beginning, cut where a character begins.
void ShowWideObject(HWND field, const char* path) {
    const size_t length = std::strlen(path);
    // Lenient counting never fails; the room is unbounded.
    const size_t units = DecodeWtf8<wchar_t>(path, length, nullptr, NotWtf8, true);
    std::unique_ptr<wchar_t[]> held(new (std::nothrow) wchar_t[units + 1]);
    wchar_t beginning[MAX_PATH];
    if (held) {
        DecodeShown(path, length, held.get(), units + 1);
    } else {
        DecodeShown(path, length, beginning, MAX_PATH);
    }
    SendMessageW(field, WM_SETTEXT, 0, reinterpret_cast<LPARAM>(held ? held.get() : beginning));
}

}  // namespace

// On the NT family the field is a wide edit control (main_dialog.cpp makes
// it so), which keeps every character of the path; a path wider than the
// field scrolls in it as the control shows any text.
void ShowObject(const char* path) {
    if (path[0] != '\0' && IsNtFamily()) {
        ShowWideObject(GetDlgItem(MainDialog, IDC_OBJECT), path);
        return;
    }
    SetDlgItemTextA(MainDialog, IDC_OBJECT, path[0] != '\0' ? path : AllDrivesText);
}

// Queued, not sent: the dialog inserts the rows in batches (app/row_batch.h).
void AddResultRow(const char* object, const char* status) { QueueRow(object, status); }

void InsertResultRow(const char* object, const char* status) {
    const HWND list = GetDlgItem(MainDialog, IDC_RESULTS);
    int index = 0;
    // The row goes in without a text; both are set below.
    if (IsNtFamily()) {
        LVITEMW item{};
        item.iItem = 0x7FFFFFFF;  // after the last row
        index = static_cast<int>(SendMessageW(list, LVM_INSERTITEMW, 0, reinterpret_cast<LPARAM>(&item)));
    } else {
        LVITEMA item{};
        item.iItem = 0x7FFFFFFF;
        index = static_cast<int>(SendMessageA(list, LVM_INSERTITEMA, 0, reinterpret_cast<LPARAM>(&item)));
    }
    SetRowText(list, index, 0, object);
    SetRowText(list, index, StatusColumn, status);
    // Not drawn nor scrolled here: the dialog shows the new rows, the last
    // one in view, once a batch is in.
}

void ReportResults() {
    // The walk is over: from here on the session may end at any moment.
    workerProgress = WorkerReporting;
    SetDlgItemTextA(MainDialog, IDC_SCAN, ScanButtonText);
    WriteReportRows();
    SendMessageA(MainDialog, WM_SHOW_ROWS, 0, 0);
    // Whenever something infected was found, repaired or not, and whenever
    // a mail folder holds an infected message, which only the mail program
    // may delete: one box says all; the worker waits here while the dialog
    // stays usable.
    if ((ScanStatistics.infected != 0 || ScanStatistics.infectedMessages != 0) && sessionEnding == 0) {
        std::string text;
        if (ScanStatistics.infected != 0) text = RestartWarning;
        if (ScanStatistics.infectedMessages != 0) text.append(text.empty() ? "" : "\n\n").append(InfectedMailWarning);
        seamMessageBox(nullptr, text.c_str(), ProgramCaption, MB_OK | MB_ICONWARNING);
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
