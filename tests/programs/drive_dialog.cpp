// velmora-drive: uses the running velmora.exe from outside, as a person at
// the screen would, for the end-to-end test and the headless demo.
//   velmora-drive scan [SECONDS]  answer the start-up boxes, press "&Analizar",
//                                 answer the restart warning, wait for the
//                                 report, print every row
//   velmora-drive exit            press "&Salir"
// Output lines: "box<TAB>text" for every box answered (with "before" when
// the dialog was not shown yet), "row<TAB>object<TAB>status" for every row,
// its texts as the list holds them (read wide) written in UTF-8 (WTF-8 for an
// unpaired surrogate), so that they compare byte for byte with the names
// planted from Linux, and "scan-ms<TAB>N", the milliseconds from the press
// to the first box the scan opened (the restart warning) or to its end, for
// the benchmark.
#include <windows.h>
#include <commctrl.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "platform/wtf8.h"

namespace {

const char* const Caption = "Velmora - Klez & Elkern Herramienta de desinfeccion";
constexpr int ScanButton = 1021, FolderButton = 1002, ResultsList = 1006;

struct Found {
    HWND dialog = nullptr;
    HWND box = nullptr;
};

BOOL CALLBACK VisitWindow(HWND window, LPARAM param) {
    char text[128] = "", name[32] = "";
    GetClassNameA(window, name, sizeof name);
    GetWindowTextA(window, text, sizeof text);
    if (std::strcmp(name, "#32770") != 0 || std::strcmp(text, Caption) != 0 || !IsWindowVisible(window)) return TRUE;
    auto* found = reinterpret_cast<Found*>(param);
    if (GetDlgItem(window, ResultsList) != nullptr) {
        found->dialog = window;
    } else {
        found->box = window;
    }
    return TRUE;
}

Found Look() {
    Found found;
    EnumWindows(VisitWindow, reinterpret_cast<LPARAM>(&found));
    return found;
}

BOOL CALLBACK StaticText(HWND child, LPARAM param) {
    char name[32] = "";
    GetClassNameA(child, name, sizeof name);
    char text[1024] = "";
    if (_stricmp(name, "Static") == 0 &&
        SendMessageA(child, WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text)) > 0) {
        *reinterpret_cast<std::string*>(param) = text;
        return FALSE;
    }
    return TRUE;
}

void AnswerBox(HWND box, bool dialogShown) {
    std::string text;
    EnumChildWindows(box, StaticText, reinterpret_cast<LPARAM>(&text));
    for (char& c : text) {
        if (c == '\n' || c == '\r') c = ' ';
    }
    std::printf("box\t%s%s\n", text.c_str(), dialogShown ? "" : "\tbefore");
    std::fflush(stdout);
    PostMessageA(box, WM_COMMAND, MAKEWPARAM(IDOK, BN_CLICKED), 0);
    for (int i = 0; i < 500 && IsWindow(box); ++i) Sleep(10);
}

bool Enabled(HWND dialog, int id) { return (GetWindowLongA(GetDlgItem(dialog, id), GWL_STYLE) & WS_DISABLED) == 0; }

std::string ButtonText(HWND dialog, int id) {
    char text[64] = "";
    SendMessageA(GetDlgItem(dialog, id), WM_GETTEXT, sizeof text, reinterpret_cast<LPARAM>(text));
    return text;
}

// The list lives in the other process: its texts are read through memory
// lent by that process, wide, with room for a text as long as the longest
// path, and only as many units as the list says it wrote are copied back.
// The list keeps its texts in UTF-16 on every system Wine reports, rows
// inserted through the code page included.
bool PrintRows(HWND dialog) {
    HWND list = GetDlgItem(dialog, ResultsList);
    DWORD processId = 0;
    GetWindowThreadProcessId(list, &processId);
    HANDLE process = OpenProcess(PROCESS_VM_OPERATION | PROCESS_VM_READ | PROCESS_VM_WRITE, FALSE, processId);
    if (process == nullptr) return false;
    constexpr SIZE_T TextUnits = 32768;
    char* remote = static_cast<char*>(
        VirtualAllocEx(process, nullptr, sizeof(LVITEMW) + TextUnits * sizeof(wchar_t), MEM_COMMIT, PAGE_READWRITE));
    if (remote == nullptr) {
        CloseHandle(process);
        return false;
    }
    std::vector<wchar_t> text(TextUnits);
    const int count = static_cast<int>(SendMessageW(list, LVM_GETITEMCOUNT, 0, 0));
    for (int row = 0; row < count; ++row) {
        std::string texts[2];
        for (int column = 0; column < 2; ++column) {
            LVITEMW item{};
            item.iSubItem = column;
            item.pszText = reinterpret_cast<wchar_t*>(remote + sizeof(LVITEMW));
            item.cchTextMax = static_cast<int>(TextUnits);
            WriteProcessMemory(process, remote, &item, sizeof item, nullptr);
            const LRESULT written =
                SendMessageW(list, LVM_GETITEMTEXTW, static_cast<WPARAM>(row), reinterpret_cast<LPARAM>(remote));
            size_t units = written > 0 ? static_cast<size_t>(written) : 0;
            if (units >= TextUnits) units = TextUnits - 1;
            SIZE_T read = 0;
            if (units > 0 && !ReadProcessMemory(process, remote + sizeof(LVITEMW), text.data(),
                                                units * sizeof(wchar_t), &read)) {
                read = 0;
            }
            // A text ends at its first zero, as the list view's own reader sees it.
            size_t length = 0;
            while (length < read / sizeof(wchar_t) && text[length] != L'\0') ++length;
            texts[column].resize(Wtf8Size(text.data(), length));
            EncodeWtf8(text.data(), length, &texts[column][0]);
        }
        std::printf("row\t%s\t%s\n", texts[0].c_str(), texts[1].c_str());
    }
    VirtualFreeEx(process, remote, 0, MEM_RELEASE);
    CloseHandle(process);
    return true;
}

int Scan(DWORD seconds) {
    const DWORD start = GetTickCount();
    auto late = [&] { return GetTickCount() - start > seconds * 1000; };
    Found found;
    while ((found = Look()).dialog == nullptr) {
        if (found.box != nullptr) AnswerBox(found.box, false);
        if (late()) return std::fprintf(stderr, "velmora-drive: no dialog\n"), 1;
        Sleep(20);
    }
    HWND dialog = found.dialog;
    const DWORD pressed = GetTickCount();
    bool timed = false;
    auto noteTime = [&] {
        if (!timed) std::printf("scan-ms\t%lu\n", static_cast<unsigned long>(GetTickCount() - pressed));
        timed = true;
    };
    PostMessageA(dialog, WM_COMMAND, MAKEWPARAM(ScanButton, BN_CLICKED), 0);
    // Started once the folder button is disabled; ended once it is enabled
    // again, which the dialog does last.
    bool started = false;
    for (;;) {
        found = Look();
        if (found.box != nullptr) {
            noteTime();
            AnswerBox(found.box, true);
        }
        const bool folderEnabled = Enabled(dialog, FolderButton);
        // Rows appear only once a scan has run: the list starts empty.
        if (!folderEnabled || SendDlgItemMessageA(dialog, ResultsList, LVM_GETITEMCOUNT, 0, 0) > 0) started = true;
        if (started && folderEnabled && ButtonText(dialog, ScanButton) == "&Analizar") {
            noteTime();
            break;
        }
        if (late()) return std::fprintf(stderr, "velmora-drive: the scan did not end\n"), 1;
        Sleep(20);
    }
    return PrintRows(dialog) ? 0 : 1;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc >= 2 && std::strcmp(argv[1], "scan") == 0) {
        return Scan(argc >= 3 ? static_cast<DWORD>(std::strtoul(argv[2], nullptr, 10)) : 600);
    }
    if (argc == 2 && std::strcmp(argv[1], "exit") == 0) {
        const Found found = Look();
        if (found.dialog == nullptr) return 1;
        PostMessageA(found.dialog, WM_COMMAND, MAKEWPARAM(IDCANCEL, BN_CLICKED), 0);
        return 0;
    }
    std::fprintf(stderr, "usage: velmora-drive scan [SECONDS] | exit\n");
    return 2;
}
