#include "tests/gui/dialog_harness.h"

#include <commctrl.h>

#include <mutex>

#include "app/program.h"
#include "app/seams.h"
#include "app/texts.h"
#include "platform/seams.h"

namespace gui {

namespace {

std::mutex callsLock;
std::vector<BoxCall> boxCalls;
std::vector<ShellCall> shellCalls;

int WINAPI RecordingMessageBox(HWND owner, LPCSTR text, LPCSTR caption, UINT style) {
    {
        std::lock_guard<std::mutex> hold(callsLock);
        boxCalls.push_back({owner, text, caption, style});
    }
    return MessageBoxA(owner, text, caption, style);
}

HINSTANCE WINAPI RecordingShell(HWND owner, LPCSTR verb, LPCSTR file, LPCSTR parameters, LPCSTR directory,
                                INT show) {
    std::lock_guard<std::mutex> hold(callsLock);
    shellCalls.push_back({owner, verb != nullptr ? verb : "", file != nullptr ? file : "", parameters == nullptr,
                          directory == nullptr, show});
    return reinterpret_cast<HINSTANCE>(static_cast<INT_PTR>(33));
}

DWORD WINAPI ProgramThread(LPVOID) { return static_cast<DWORD>(RunProgram(GetModuleHandleA(nullptr))); }

std::string WindowText(HWND window) {
    char text[1024] = "";
    GetWindowTextA(window, text, sizeof text);
    return text;
}

std::string ClassOf(HWND window) {
    char name[64] = "";
    GetClassNameA(window, name, sizeof name);
    return name;
}

struct BoxSearch {
    const std::string* text;  // null: any dialog
    HWND found;
};

BOOL CALLBACK HasStaticText(HWND child, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    if (ClassOf(child) == "Static" && WindowText(child) == *search->text) {
        search->found = child;
        return FALSE;
    }
    return TRUE;
}

BOOL CALLBACK VisitTopLevel(HWND window, LPARAM param) {
    auto* search = reinterpret_cast<BoxSearch*>(param);
    DWORD process = 0;
    GetWindowThreadProcessId(window, &process);
    if (process != GetCurrentProcessId() || window == MainDialog || !IsWindowVisible(window) ||
        ClassOf(window) != "#32770") {
        return TRUE;
    }
    if (search->text == nullptr) {
        search->found = window;
        return FALSE;
    }
    if (WindowText(window) != ProgramCaption) return TRUE;
    BoxSearch inner{search->text, nullptr};
    EnumChildWindows(window, HasStaticText, reinterpret_cast<LPARAM>(&inner));
    if (inner.found == nullptr) return TRUE;
    search->found = window;
    return FALSE;
}

}  // namespace

bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs) {
    const DWORD start = GetTickCount();
    while (!condition()) {
        if (GetTickCount() - start > timeoutMs) return false;
        Sleep(5);
    }
    return true;
}

DialogSession::DialogSession() {
    seamMessageBox = RecordingMessageBox;
    seamShellExecute = RecordingShell;
    ForgetBoxCalls();
    MainDialog = nullptr;
    ScanState = StateInitialising;
    thread_ = CreateThread(nullptr, 0, ProgramThread, nullptr, 0, &threadId_);
    MainDialogShown = thread_ != nullptr && WaitFor([] {
                          return MainDialog != nullptr && IsWindowVisible(MainDialog) && ScanState == StateIdle;
                      });
}

bool DialogSession::Exit() {
    if (thread_ == nullptr) return true;
    if (!WaitFor([] { return ScanState == StateIdle && ControlEnabled(IDCANCEL) && FindOtherDialog() == nullptr; })) {
        return false;
    }
    Press(IDCANCEL);
    const bool ended = WaitForSingleObject(thread_, 60000) == WAIT_OBJECT_0;
    DWORD code = 1;
    GetExitCodeThread(thread_, &code);
    CloseHandle(thread_);
    thread_ = nullptr;
    MainDialog = nullptr;
    return ended && code == 0;
}

DialogSession::~DialogSession() { Exit(); }

void Press(int id) { PostMessageA(MainDialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

void PressAndWait(int id) { SendMessageA(MainDialog, WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), 0); }

// Posted messages of one thread are handled in order: a column width posted
// now has taken effect once everything posted before it has been handled.
void HandlePosted() {
    HWND list = GetDlgItem(MainDialog, 1006);
    const int width = static_cast<int>(SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0));
    const int marker = width + 7;
    PostMessageA(list, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(marker, 0));
    WaitFor([&] { return SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0) == marker; });
    SendMessageA(list, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(width, 0));
}

std::string ControlText(int id) { return WindowText(GetDlgItem(MainDialog, id)); }

std::wstring ControlTextW(int id) {
    HWND control = GetDlgItem(MainDialog, id);
    const auto length = static_cast<size_t>(SendMessageW(control, WM_GETTEXTLENGTH, 0, 0));
    std::wstring text(length + 1, L'\0');
    const auto copied = static_cast<size_t>(
        SendMessageW(control, WM_GETTEXT, static_cast<WPARAM>(text.size()), reinterpret_cast<LPARAM>(&text[0])));
    text.resize(copied < length ? copied : length);
    return text;
}

bool ControlEnabled(int id) {
    return (GetWindowLongA(GetDlgItem(MainDialog, id), GWL_STYLE) & WS_DISABLED) == 0;
}

std::vector<std::pair<std::string, std::string>> Rows() {
    HWND list = GetDlgItem(MainDialog, 1006);
    const int count = static_cast<int>(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0));
    std::vector<std::pair<std::string, std::string>> rows;
    for (int row = 0; row < count; ++row) {
        char texts[2][600] = {"", ""};
        for (int column = 0; column < 2; ++column) {
            LVITEMA item{};
            item.iSubItem = column;
            item.pszText = texts[column];
            item.cchTextMax = sizeof texts[column];
            SendMessageA(list, LVM_GETITEMTEXTA, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
        }
        rows.emplace_back(texts[0], texts[1]);
    }
    return rows;
}

std::vector<std::pair<std::wstring, std::wstring>> WideRows() {
    HWND list = GetDlgItem(MainDialog, 1006);
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    std::vector<std::pair<std::wstring, std::wstring>> rows;
    // More room than any row holds, so that a text read back whole is
    // known to be whole.
    std::vector<wchar_t> text(65536);
    for (int row = 0; row < count; ++row) {
        std::wstring texts[2];
        for (int column = 0; column < 2; ++column) {
            text[0] = L'\0';
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = text.data();
            item.cchTextMax = static_cast<int>(text.size());
            SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(&item));
            texts[column] = item.pszText;
        }
        rows.emplace_back(texts[0], texts[1]);
    }
    return rows;
}

HWND FindBox(const std::string& text) {
    BoxSearch search{&text, nullptr};
    EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

HWND WaitForBox(const std::string& text) {
    HWND box = nullptr;
    WaitFor([&] { return (box = FindBox(text)) != nullptr; });
    return box;
}

HWND FindOtherDialog() {
    BoxSearch search{nullptr, nullptr};
    EnumWindows(VisitTopLevel, reinterpret_cast<LPARAM>(&search));
    return search.found;
}

void Answer(HWND box, int button) {
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(button, BN_CLICKED), 0);
    WaitFor([box] { return !IsWindow(box); });
}

std::vector<BoxCall> BoxCalls() {
    std::lock_guard<std::mutex> hold(callsLock);
    return boxCalls;
}

void ForgetBoxCalls() {
    std::lock_guard<std::mutex> hold(callsLock);
    boxCalls.clear();
    shellCalls.clear();
}

std::vector<ShellCall> ShellCalls() {
    std::lock_guard<std::mutex> hold(callsLock);
    return shellCalls;
}

}  // namespace gui
