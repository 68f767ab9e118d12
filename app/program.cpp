#include "app/program.h"

#include <commctrl.h>
#include <objbase.h>
#include <shellapi.h>

#include "app/resource_ids.h"

HWND MainDialog;
std::atomic<int32_t> ScanState{StateInitialising};
HCURSOR HandCursor;
HFONT LinkFont;
std::atomic<int32_t> workerProgress{WorkerDone};
std::atomic<int32_t> sessionEnding{0};

ShellExecuteFunction seamShellExecute = ShellExecuteA;
CreateThreadFunction seamCreateThread = CreateThread;

// None of these steps is checked: a missing cursor or font only makes the
// link label plainer, and the dialog works without them.
int RunProgram(HINSTANCE instance) {
    InitCommonControls();
    CoInitialize(nullptr);
    HandCursor = LoadCursorA(instance, MAKEINTRESOURCEA(IDC_HAND_CURSOR));
    LinkFont = CreateFontA(0, 0, 0, 0, FW_BOLD, FALSE, TRUE, FALSE, DEFAULT_CHARSET, 0, 0, 0, 0, "System");
    DialogBoxParamA(instance, MAKEINTRESOURCEA(IDD_MAIN), nullptr, MainDialogProc, 0);
    return 0;
}
