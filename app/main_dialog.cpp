#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <cstdio>
#include <cwchar>

#include "app/program.h"
#include "app/resource_ids.h"
#include "app/row_batch.h"
#include "app/texts.h"
#include "platform/family.h"
#include "platform/wtf8.h"
#include "resident/resident_sweep.h"
#include "scan/front_end.h"
#include "scan/walk.h"
#include "scan/scan_state.h"

namespace {

void SetControlStyleBit(int id, bool disabled) {
    HWND control = GetDlgItem(MainDialog, id);
    LONG style = GetWindowLongA(control, GWL_STYLE);
    style = disabled ? (style | WS_DISABLED) : (style & ~static_cast<LONG>(WS_DISABLED));
    SetWindowLongA(control, GWL_STYLE, style);
    InvalidateRect(control, nullptr, TRUE);
    UpdateWindow(control);
}

// CreateThread calls its start routine with the system's calling convention.
DWORD WINAPI ScanThreadStart(LPVOID parameter) { return ScanWorker(parameter); }

void SetUpResultsList(HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_RESULTS, LVM_SETEXTENDEDLISTVIEWSTYLE, 0, LVS_EX_FULLROWSELECT);
    struct Column {
        const char* title;
        int width;
    };
    const Column columns[] = {{FileColumnTitle, 350}, {StatusColumnTitle, 200}};
    for (int i = 0; i < 2; ++i) {
        LVCOLUMNA column{};
        column.mask = LVCF_FMT | LVCF_WIDTH | LVCF_TEXT;
        column.fmt = LVCFMT_LEFT;
        column.cx = columns[i].width;
        column.pszText = const_cast<char*>(columns[i].title);
        SendDlgItemMessageA(dialog, IDC_RESULTS, LVM_INSERTCOLUMNA, static_cast<WPARAM>(i),
                            reinterpret_cast<LPARAM>(&column));
    }
}

// On the NT family the object field shows paths as the system spells them.
// An edit control keeps its text in the character set of the call that
// created it, whatever message later sets it, and the template's field is
// created through the code page: the field is made again by the wide call,
// in the template's place, with its styles, font and place in the tab
// order. Should that fail, the template's field stays and shows what the
// code page can.
void MakeObjectFieldWide(HWND dialog) {
    HWND old = GetDlgItem(dialog, IDC_OBJECT);
    RECT area{};
    GetWindowRect(old, &area);
    MapWindowPoints(nullptr, dialog, reinterpret_cast<POINT*>(&area), 2);
    const auto style = static_cast<DWORD>(GetWindowLongA(old, GWL_STYLE));
    const auto exStyle = static_cast<DWORD>(GetWindowLongA(old, GWL_EXSTYLE));
    const auto instance = reinterpret_cast<HINSTANCE>(GetWindowLongPtrA(old, GWLP_HINSTANCE));
    HWND field = CreateWindowExW(exStyle, L"EDIT", L"", style, area.left, area.top, area.right - area.left,
                                 area.bottom - area.top, dialog,
                                 reinterpret_cast<HMENU>(static_cast<INT_PTR>(IDC_OBJECT)), instance, nullptr);
    if (field == nullptr) return;
    SendMessageA(field, WM_SETFONT, static_cast<WPARAM>(SendMessageA(old, WM_GETFONT, 0, 0)), FALSE);
    SetWindowPos(field, old, 0, 0, 0, 0, SWP_NOMOVE | SWP_NOSIZE | SWP_NOACTIVATE);
    DestroyWindow(old);
}

void InitialiseDialog(HWND dialog) {
    ScanState = StateInitialising;
    MainDialog = dialog;
    // The label draws itself and takes mouse messages; the static control's
    // own procedure is not kept.
    SetWindowLongPtrA(GetDlgItem(dialog, IDC_LINK), GWLP_WNDPROC, reinterpret_cast<LONG_PTR>(LinkLabelProc));
    SetWindowTextA(dialog, ProgramCaption);
    SetDlgItemTextA(dialog, IDC_THREATS_HEADING, ThreatsHeading);
    SetDlgItemTextA(dialog, IDC_THREATS, ThreatList);
    SetDlgItemTextA(dialog, IDC_PROMOTION, PromotionText);
    SetDlgItemTextA(dialog, IDC_LINK, VendorHost);
    if (IsNtFamily()) MakeObjectFieldWide(dialog);
    SetDlgItemTextA(dialog, IDC_OBJECT_LABEL, ObjectLabel);
    SetDlgItemTextA(dialog, IDC_SCAN, ScanButtonText);
    SetDlgItemTextA(dialog, IDC_SELECT_FOLDER, SelectFolderButtonText);
    SetDlgItemTextA(dialog, IDC_ABOUT, AboutButtonText);
    SetDlgItemTextA(dialog, IDCANCEL, ExitButtonText);
    // Aligned right against a sunken edge, the notice's last stroke would be
    // cut off; a trailing space keeps it clear of the edge.
    char notice[128];
    std::snprintf(notice, sizeof notice, "%s ", MakerNotice);
    SetDlgItemTextA(dialog, IDC_NOTICE, notice);
    SetUpResultsList(dialog);
    SelectedFolder[0] = '\0';
    ShowObject(SelectedFolder);
    ScanState = StateIdle;
    // Before the window is first shown (the template is not visible): the
    // threats' running parts are ended before the user can do anything.
    ResidentSweep();
}

void ShowAbout(HWND dialog) {
    char text[512];
    std::snprintf(text, sizeof text, "%s\n%s\n\n%s", ThreatsHeading, ThreatList, MakerNotice);
    seamMessageBox(dialog, text, ProgramCaption, MB_OK | MB_ICONINFORMATION);
}

// The browser hands out at most MAX_PATH characters of display name.
static_assert(SelectedFolderSize >= MAX_PATH, "the browser's display name fits");

// The shell of the 95/98/Me family may lack the wide form, so it is looked
// up rather than imported, which would keep the program from starting there.
using PathFromIdListW = BOOL(WINAPI*)(LPCITEMIDLIST, LPWSTR);

PathFromIdListW WidePathFromIdList() {
    static const PathFromIdListW found = [] {
        const HMODULE shell = LoadLibraryA("shell32.dll");
        if (shell == nullptr) return PathFromIdListW{nullptr};
        // Typed through void(*)(), the one conversion between function
        // pointer types that compilers accept without complaint.
        return reinterpret_cast<PathFromIdListW>(
            reinterpret_cast<void (*)()>(GetProcAddress(shell, "SHGetPathFromIDListW")));
    }();
    return found;
}

// The chosen folder's path into SelectedFolder; false when there is none or
// it does not fit. On the NT family it is read wide and carried as WTF-8,
// as every path is there; on the 95/98/Me family, or without the wide form,
// as the code page spells it.
bool ChosenPath(LPCITEMIDLIST items) {
    const PathFromIdListW widePath = IsNtFamily() ? WidePathFromIdList() : nullptr;
    if (widePath == nullptr) return SHGetPathFromIDListA(items, SelectedFolder) != FALSE;
    wchar_t path[MAX_PATH] = L"";
    if (!widePath(items, path)) return false;
    const size_t units = std::wcslen(path);
    if (Wtf8Size(path, units) >= SelectedFolderSize) return false;
    SelectedFolder[EncodeWtf8(path, units, SelectedFolder)] = '\0';
    return true;
}

// The browser is owned by the dialog, which it disables while it is open:
// no scan can start and read SelectedFolder while the user is choosing.
void SelectFolder(HWND dialog) {
    LPMALLOC allocator = nullptr;
    SHGetMalloc(&allocator);
    BROWSEINFOA info{};
    info.hwndOwner = dialog;
    info.pszDisplayName = SelectedFolder;
    info.lpszTitle = FolderBrowserTitle;
    LPITEMIDLIST items = SHBrowseForFolderA(&info);
    // A cancelled browser, or a place without a file-system path (or one too
    // long to carry), means all fixed drives; the display name the browser
    // wrote must not remain.
    if (items == nullptr || !ChosenPath(items)) SelectedFolder[0] = '\0';
    if (allocator != nullptr) {
        allocator->Free(items);
        allocator->Release();
    }
    ShowObject(SelectedFolder);
}

bool ScanUnderWay() { return ScanState == StateScanning || ScanState == StateStopping; }

// Drawing and scrolling the list once a row costs far more than examining
// the row's file, and more the longer the list: while a scan adds rows the
// list is not drawn, and this thread shows it on a timer and at the end.
void HoldListDrawing(HWND dialog) {
    SendDlgItemMessageA(dialog, IDC_RESULTS, WM_SETREDRAW, FALSE, 0);
    SetTimer(dialog, RowsTimer, RowsTimerInterval, nullptr);
}

// Inserts the rows waiting in the batch and draws every row so far with the
// last one in view, then holds drawing again while a scan may still add rows.
void ShowRows(bool holdAgain) {
    TakeRows(InsertResultRow);
    HWND list = GetDlgItem(MainDialog, IDC_RESULTS);
    SendMessageA(list, WM_SETREDRAW, TRUE, 0);
    const LRESULT count = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    if (count > 0) SendMessageA(list, LVM_ENSUREVISIBLE, static_cast<WPARAM>(count - 1), FALSE);
    InvalidateRect(list, nullptr, TRUE);
    UpdateWindow(list);
    if (holdAgain) SendMessageA(list, WM_SETREDRAW, FALSE, 0);
}

void ReturnToIdle() {
    KillTimer(MainDialog, RowsTimer);
    ShowRows(false);
    EnableControl(IDC_SCAN);
    EnableControl(IDC_SELECT_FOLDER);
    EnableControl(IDCANCEL);
    ScanState = StateIdle;
}

void StartScan(HWND dialog) {
    ScanState = StateScanning;
    workerProgress = WorkerWalking;
    sessionEnding = 0;
    DisableControl(IDC_SELECT_FOLDER);
    DisableControl(IDCANCEL);
    SetDlgItemTextA(dialog, IDC_SCAN, InterruptButtonText);
    SendDlgItemMessageA(dialog, IDC_RESULTS, LVM_DELETEALLITEMS, 0, 0);
    HoldListDrawing(dialog);
    // Set here, before the worker exists, so that a stop confirmed while the
    // worker is starting is not undone by it.
    keepScanning.store(1, std::memory_order_relaxed);
    DWORD threadId = 0;
    HANDLE worker = seamCreateThread(nullptr, 0, ScanThreadStart, nullptr, 0, &threadId);
    if (worker == nullptr) {
        // No worker will ever report: the dialog must not wait for one.
        SetDlgItemTextA(dialog, IDC_SCAN, ScanButtonText);
        workerProgress = WorkerDone;
        ReturnToIdle();
        return;
    }
    // The worker is never waited for; it announces its end with WM_SCAN_FINISHED.
    CloseHandle(worker);
}

void Interrupt() {
    ScanState = StateStopping;
    DisableControl(IDC_SCAN);
    StopScan();
}

void AskToInterrupt(HWND dialog) {
    const int answer = seamMessageBox(dialog, InterruptQuestion, ProgramCaption, MB_YESNO);
    // The report may have come while the question was open.
    if (answer != IDYES || ScanState != StateScanning) return;
    Interrupt();
}

// A file may be in hand, perhaps half repaired, until the walk is over.
bool Walking() { return ScanUnderWay() && workerProgress == WorkerWalking; }

// Shutdown or logoff asked for during a walk: refused, and the scan is
// stopped as by the interrupt command, so that the request can succeed as
// soon as the file in hand is finished and the report written.
BOOL MayEndSession() {
    if (!Walking()) return TRUE;
    if (ScanState == StateScanning) Interrupt();
    return FALSE;
}

// The session ends all the same (forced, or refused too late): the process
// may be ended as soon as this returns, so the worker finishes the file in
// hand first. Messages it sends (a full batch of rows) are served meanwhile;
// the report then opens no box.
void EndSession() {
    if (!Walking()) return;
    sessionEnding = 1;
    if (ScanState == StateScanning) Interrupt();
    while (workerProgress == WorkerWalking) {
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 20, QS_SENDMESSAGE);
        MSG message;
        PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE);
    }
}

// Honoured only from the worker of the scan under way, once it is done: a
// copy posted by another program must not end a running scan.
void FinishScan() {
    if (ScanUnderWay() && workerProgress == WorkerDone) ReturnToIdle();
}

void OnCommand(HWND dialog, int id) {
    switch (id) {
        case IDCANCEL:
            // Escape and the close box arrive here too, even while the exit
            // button is disabled: the program never ends during a scan.
            if (ScanState == StateIdle) EndDialog(dialog, 0);
            break;
        case IDC_ABOUT:
            ShowAbout(dialog);
            break;
        case IDC_SELECT_FOLDER:
            if (ScanState == StateIdle) SelectFolder(dialog);
            break;
        case IDC_SCAN:
            if (ScanState == StateIdle) {
                StartScan(dialog);
            } else if (ScanState == StateScanning) {
                AskToInterrupt(dialog);
            }
            break;
        default:
            break;
    }
}

}  // namespace

void DisableControl(int id) { SetControlStyleBit(id, true); }

void EnableControl(int id) { SetControlStyleBit(id, false); }

INT_PTR CALLBACK MainDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM) {
    switch (message) {
        case WM_INITDIALOG:
            InitialiseDialog(dialog);
            break;
        case WM_COMMAND:
            OnCommand(dialog, LOWORD(wParam));
            break;
        case WM_SCAN_FINISHED:
            FinishScan();
            break;
        case WM_TIMER:
            if (wParam == RowsTimer && ScanUnderWay()) ShowRows(true);
            break;
        case WM_SHOW_ROWS:
            if (ScanUnderWay()) ShowRows(true);
            break;
        case WM_QUERYENDSESSION:
            SetWindowLongPtrA(dialog, DWLP_MSGRESULT, MayEndSession());
            return TRUE;
        case WM_ENDSESSION:
            if (wParam != FALSE) EndSession();
            break;
        default:
            break;
    }
    return FALSE;
}
