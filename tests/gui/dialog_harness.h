// Drives the real main dialog inside the test process: the program's
// start-up runs on a thread of its own, as it does on velmora.exe's main
// thread, and the test acts from outside as a person (or another program)
// would, through posted commands and the windows it finds.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <utility>
#include <vector>

namespace gui {

// Polls until the condition holds; false when it did not within the time.
bool WaitFor(const std::function<bool()>& condition, DWORD timeoutMs = 60000);

// One run of the program, from start-up until the exit command ends it.
class DialogSession {
public:
    DialogSession();   // returns once the dialog is shown and idle
    ~DialogSession();  // presses exit when idle and waits for the program's end
    bool Started() const { return MainDialogShown; }
    DWORD ThreadId() const { return threadId_; }
    // Presses the exit command and waits; true when the program ended.
    bool Exit();

private:
    HANDLE thread_ = nullptr;
    DWORD threadId_ = 0;
    bool MainDialogShown = false;
};

// A command as a click delivers it; posted, so a box it opens never blocks the test.
void Press(int id);
// A command handled before this returns, for commands that open no box.
void PressAndWait(int id);
// Returns once the dialog's thread has handled every message posted to it
// before the call (sent messages overtake posted ones, so PressAndWait
// cannot tell).
void HandlePosted();

std::string ControlText(int id);
// The control's text as it holds it, read with the wide message.
std::wstring ControlTextW(int id);
bool ControlEnabled(int id);
// The list's rows through the code page, and as the list holds them, read
// with LVM_GETITEMTEXTW into room for the longest path.
std::vector<std::pair<std::string, std::string>> Rows();
std::vector<std::pair<std::wstring, std::wstring>> WideRows();

// A visible message box of this process with the program's caption whose
// static text is exactly text; null when there is none.
HWND FindBox(const std::string& text);
HWND WaitForBox(const std::string& text);
// Any visible dialog of this process other than the main dialog.
HWND FindOtherDialog();
void Answer(HWND box, int button);

// What the program asked of message boxes, in order; the boxes themselves
// are real and must be answered.
struct BoxCall {
    HWND owner;
    std::string text;
    std::string caption;
    UINT style;
};
std::vector<BoxCall> BoxCalls();
void ForgetBoxCalls();

struct ShellCall {
    HWND owner;
    std::string verb, file;
    bool noParameters, noDirectory;
    INT show;
};
// Every request to the shell to open something; nothing is really opened.
std::vector<ShellCall> ShellCalls();

}  // namespace gui
