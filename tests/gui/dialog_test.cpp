// The main dialog driven as a person would: real windows and message boxes
// under a virtual display, the scan running on its real worker thread.
#include <windows.h>
#include <commctrl.h>
#include <shlobj.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <string>

#include "app/program.h"
#include "app/resource_ids.h"
#include "app/row_batch.h"
#include "app/seams.h"
#include "app/texts.h"
#include "adapters/seams.h"
#include "platform/seams.h"
#include "platform/wtf8.h"
#include "scan/front_end.h"
#include "scan/walk.h"
#include "scan/scan_state.h"
#include "scan/texts.h"
#include "tests/gui/dialog_harness.h"
#include "tests/support/inside_samples.h"
#include "tests/support/synth.h"

using gui::ControlEnabled;
using gui::ControlText;
using gui::Press;
using gui::PressAndWait;
using gui::WaitFor;

namespace {

namespace fs = std::filesystem;

constexpr int ScanButton = 1021, FolderButton = 1002, AboutButton = 1000, ExitButton = IDCANCEL;

fs::path FreshFolder(const std::string& name) {
    const fs::path folder = fs::temp_directory_path() / ("velmora-dialog-" + name);
    fs::remove_all(folder);
    fs::create_directories(folder);
    return folder;
}

fs::path WormFolder(const std::string& name, int count, const std::string& stem = "") {
    const fs::path folder = FreshFolder(name);
    const synth::Sample worm = synth::MakeWormCopy(2, 40);
    for (int i = 0; i < count; ++i) {
        synth::WriteBytes((folder / ("w" + std::to_string(i) + stem + ".exe")).string(), worm.bytes);
    }
    return folder;
}

std::string ReadAll(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

void Select(const fs::path& folder) {
    const std::string text = folder.string();
    ASSERT_LT(text.size(), sizeof SelectedFolder);
    std::memcpy(SelectedFolder, text.c_str(), text.size() + 1);
}

bool IdleWithEveryButton() {
    return ScanState == StateIdle && ControlEnabled(ScanButton) && ControlEnabled(FolderButton) &&
           ControlEnabled(AboutButton) && ControlEnabled(ExitButton) && ControlText(ScanButton) == ScanButtonText;
}

// The report's rows as label -> value, checked against the statistics.
void ExpectReport(const std::vector<std::pair<std::string, std::string>>& rows) {
    ASSERT_GE(rows.size(), 11u);
    const size_t first = rows.size() - 11;
    EXPECT_EQ(rows[first], std::make_pair(std::string("Infome del analisis"), std::string()));
    const std::pair<const char*, int32_t> expected[] = {
        {"Carpetas:", ScanStatistics.folders},
        {"Ficheros:", ScanStatistics.files},
        {"Infectado:", ScanStatistics.infected},
        {"Advertencias:", ScanStatistics.warnings},
        {"Sospechoso:", ScanStatistics.suspicious},
        {"Desinfectado:", ScanStatistics.disinfected},
        {"Eliminado:", ScanStatistics.deleted},
        {"Desinfectado al reinicio:", ScanStatistics.disinfectedAtRestart},
        {"Eliminado al reinicio:", ScanStatistics.deletedAtRestart},
        {"Incapaz de desinfectar:", ScanStatistics.failed},
    };
    for (size_t i = 0; i < 10; ++i) {
        EXPECT_EQ(rows[first + 1 + i].first, expected[i].first);
        EXPECT_EQ(rows[first + 1 + i].second, std::to_string(expected[i].second));
    }
}

// Rows are drawn in batches, but at every pause the last one is in view.
bool LastRowInView() {
    HWND list = GetDlgItem(MainDialog, 1006);
    const LRESULT count = SendMessageA(list, LVM_GETITEMCOUNT, 0, 0);
    const LRESULT top = SendMessageA(list, LVM_GETTOPINDEX, 0, 0);
    const LRESULT page = SendMessageA(list, LVM_GETCOUNTPERPAGE, 0, 0);
    return count > 0 && top <= count - 1 && count - 1 < top + page;
}

size_t CountBoxes(const char* text) {
    size_t count = 0;
    for (const gui::BoxCall& call : gui::BoxCalls()) {
        if (call.text == text) ++count;
    }
    return count;
}

int CountLabelPixels(HWND label, COLORREF colour) {
    RECT area{};
    GetClientRect(label, &area);
    HDC context = GetDC(label);
    int count = 0;
    for (int y = 0; y < area.bottom; ++y) {
        for (int x = 0; x < area.right; ++x) count += GetPixel(context, x, y) == colour ? 1 : 0;
    }
    ReleaseDC(label, context);
    return count;
}

}  // namespace

TEST(Dialog, FirstDisplayAboutLinkAndIgnoredCommands) {
    gui::DialogSession session;
    ASSERT_TRUE(session.Started());

    char caption[128] = "";
    GetWindowTextA(MainDialog, caption, sizeof caption);
    EXPECT_STREQ(caption, ProgramCaption);
    EXPECT_EQ(ControlText(1004), "Todas las unidades de disco");
    EXPECT_EQ(ControlText(1018), VendorHost);
    EXPECT_EQ(ControlText(1020), ThreatList);
    EXPECT_EQ(ControlText(1022), std::string(MakerNotice) + " ");
    // The notice fits its control in the dialog's font, and no stroke of it
    // is cut at the control's right edge, where it is aligned.
    HWND notice = GetDlgItem(MainDialog, 1022);
    HDC noticeContext = GetDC(notice);
    SelectObject(noticeContext, reinterpret_cast<HGDIOBJ>(SendMessageA(notice, WM_GETFONT, 0, 0)));
    SIZE extent{};
    ASSERT_TRUE(GetTextExtentPoint32A(noticeContext, MakerNotice, static_cast<int>(std::strlen(MakerNotice)), &extent));
    RECT noticeArea{};
    GetClientRect(notice, &noticeArea);
    EXPECT_LE(extent.cx, noticeArea.right);
    RedrawWindow(notice, nullptr, nullptr, RDW_INVALIDATE | RDW_UPDATENOW);
    const COLORREF text = GetSysColor(COLOR_BTNTEXT);
    int lastTextColumn = -1;
    for (int x = 0; x < noticeArea.right; ++x) {
        for (int y = 0; y < noticeArea.bottom; ++y) {
            if (GetPixel(noticeContext, x, y) == text) lastTextColumn = x;
        }
    }
    ReleaseDC(notice, noticeContext);
    EXPECT_GT(lastTextColumn, noticeArea.right / 2);
    EXPECT_LT(lastTextColumn, noticeArea.right - 1) << "the notice is cut at the right";
    EXPECT_TRUE(IdleWithEveryButton());
    HWND list = GetDlgItem(MainDialog, 1006);
    EXPECT_EQ(SendMessageA(list, LVM_GETITEMCOUNT, 0, 0), 0);
    EXPECT_EQ(SendMessageA(list, LVM_GETEXTENDEDLISTVIEWSTYLE, 0, 0), LVS_EX_FULLROWSELECT);
    const std::pair<const char*, int> columns[] = {{"Fichero", 350}, {"Estado", 200}};
    for (int i = 0; i < 2; ++i) {
        char title[32] = "";
        LVCOLUMNA column{};
        column.mask = LVCF_WIDTH | LVCF_TEXT;
        column.pszText = title;
        column.cchTextMax = sizeof title;
        ASSERT_TRUE(SendMessageA(list, LVM_GETCOLUMNA, static_cast<WPARAM>(i), reinterpret_cast<LPARAM>(&column)));
        EXPECT_STREQ(title, columns[i].first);
        EXPECT_EQ(column.cx, columns[i].second);
    }

    // About: owned by the dialog, information icon, the notice after a blank line.
    Press(AboutButton);
    const std::string about = std::string("Detecta y elimina:\n") + ThreatList + "\n\n" + MakerNotice;
    HWND box = gui::WaitForBox(about);
    ASSERT_NE(box, nullptr);
    gui::Answer(box, IDOK);
    ASSERT_EQ(gui::BoxCalls().size(), 1u);
    EXPECT_EQ(gui::BoxCalls()[0].owner, MainDialog);
    EXPECT_EQ(gui::BoxCalls()[0].caption, ProgramCaption);
    EXPECT_EQ(gui::BoxCalls()[0].style, static_cast<UINT>(MB_OK | MB_ICONINFORMATION));

    // Ids other than the four commands do nothing, whatever the notification.
    for (int id : {1004, 1006, 1018, 9999, IDOK}) PressAndWait(id);
    SendMessageA(MainDialog, WM_COMMAND, MAKEWPARAM(AboutButton + 1, EN_CHANGE), 0);
    EXPECT_TRUE(IdleWithEveryButton());
    EXPECT_EQ(gui::BoxCalls().size(), 1u);
    EXPECT_TRUE(IsWindow(MainDialog));

    // The link: a press opens the site through the shell, the pointer turns
    // into the hand, and the label stays blue whatever the mouse does.
    HWND label = GetDlgItem(MainDialog, 1018);
    ASSERT_TRUE(AttachThreadInput(GetCurrentThreadId(), session.ThreadId(), TRUE));
    SetCursor(LoadCursorA(nullptr, MAKEINTRESOURCEA(32512)));
    SendMessageA(label, WM_MOUSEMOVE, 0, MAKELPARAM(3, 3));
    ASSERT_NE(HandCursor, nullptr);
    EXPECT_EQ(GetCursor(), HandCursor);
    AttachThreadInput(GetCurrentThreadId(), session.ThreadId(), FALSE);
    EXPECT_GT(CountLabelPixels(label, RGB(0, 0, 255)), 20);
    EXPECT_EQ(CountLabelPixels(label, RGB(255, 0, 0)), 0);
    SendMessageA(label, WM_CAPTURECHANGED, 0, 0);
    EXPECT_GT(CountLabelPixels(label, RGB(0, 0, 255)), 20);
    EXPECT_EQ(CountLabelPixels(label, RGB(255, 0, 0)), 0);
    SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    SendMessageA(label, WM_LBUTTONDOWN, MK_LBUTTON, MAKELPARAM(3, 3));
    const std::vector<gui::ShellCall> opened = gui::ShellCalls();
    ASSERT_EQ(opened.size(), 2u);
    EXPECT_EQ(opened[0].owner, nullptr);
    EXPECT_EQ(opened[0].verb, "open");
    EXPECT_EQ(opened[0].file, std::string("http://") + VendorHost);
    EXPECT_TRUE(opened[0].noParameters && opened[0].noDirectory);
    EXPECT_EQ(opened[0].show, SW_SHOWNORMAL);
    EXPECT_TRUE(IdleWithEveryButton());

    EXPECT_TRUE(session.Exit());
}

TEST(Dialog, ScanReportRestartWarningAndInterruptQuestion) {
    // Worm copies with long names beside the corpus: the rows come to several
    // times what one batch holds, so the worker has the dialog take them
    // before its timer would.
    constexpr int LongWorms = 150;
    const fs::path folder = WormFolder("corpus", LongWorms, std::string(180, 'n'));
    const std::vector<synth::Sample> corpus = synth::BuildCorpus(7);
    for (const synth::Sample& sample : corpus) ASSERT_TRUE(synth::WriteBytes((folder / (sample.name + ".exe")).string(), sample.bytes));

    gui::DialogSession session;
    ASSERT_TRUE(session.Started());
    Select(folder);
    Press(ScanButton);

    // The report is being written and its restart warning is open: still
    // scanning, although the button already reads "&Analizar".
    HWND warning = gui::WaitForBox(RestartWarning);
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(ScanState, StateScanning);
    EXPECT_EQ(ControlText(ScanButton), ScanButtonText);
    // Far more rows than the list shows, and the report's last one in view.
    EXPECT_GT(gui::Rows().size(), 3 * static_cast<size_t>(SendDlgItemMessageA(MainDialog, 1006, LVM_GETCOUNTPERPAGE, 0, 0)));
    EXPECT_TRUE(LastRowInView());
    EXPECT_FALSE(ControlEnabled(FolderButton));
    EXPECT_FALSE(ControlEnabled(ExitButton));
    // Escape or the close box must not end the program now.
    PressAndWait(ExitButton);
    SendMessageA(MainDialog, WM_CLOSE, 0, 0);
    EXPECT_TRUE(IsWindow(MainDialog));
    EXPECT_EQ(ScanState, StateScanning);

    // No keeps the scan; a Yes given after the scan ended changes nothing.
    Press(ScanButton);
    HWND question = gui::WaitForBox(InterruptQuestion);
    ASSERT_NE(question, nullptr);
    gui::Answer(question, IDNO);
    EXPECT_EQ(ScanState, StateScanning);
    EXPECT_TRUE(ControlEnabled(ScanButton));
    Press(ScanButton);
    question = gui::WaitForBox(InterruptQuestion);
    ASSERT_NE(question, nullptr);
    gui::Answer(warning, IDOK);
    EXPECT_TRUE(WaitFor([] { return ScanState == StateIdle; }));
    gui::Answer(question, IDYES);
    PressAndWait(AboutButton + 1);  // let the answer's handling finish
    EXPECT_TRUE(IdleWithEveryButton());

    // Rows: every finding of the corpus, each action right after its finding
    // of the same file, then the report.
    const auto rows = gui::Rows();
    ExpectReport(rows);
    EXPECT_EQ(ScanStatistics.files, static_cast<int32_t>(corpus.size()) + LongWorms);
    EXPECT_GT(ScanStatistics.infected, 0);
    // A doubly infected host is reported once per layer.
    int infectedRows = 0;
    for (size_t i = 0; i + 11 < rows.size(); ++i) {
        const std::string& status = rows[i].second;
        if (status.rfind(InfectedPrefix, 0) == 0) ++infectedRows;
        if (status == DisinfectedText || status == DeletedText) {
            ASSERT_GT(i, 0u);
            EXPECT_EQ(rows[i - 1].first, rows[i].first);
            EXPECT_EQ(rows[i - 1].second.rfind(InfectedPrefix, 0), 0u) << rows[i - 1].second;
        }
    }
    EXPECT_GE(infectedRows, ScanStatistics.infected);
    // Every long-named worm exactly once, and more text than two batches.
    size_t bytes = 0, longWormRows = 0;
    for (const auto& row : rows) {
        bytes += row.first.size() + row.second.size() + 2;
        longWormRows += row.first.find(std::string(180, 'n')) != std::string::npos ? 1u : 0u;
    }
    EXPECT_EQ(longWormRows, size_t{2} * LongWorms);
    EXPECT_GT(bytes, 2 * RowBatchSize);
    EXPECT_EQ(CountBoxes(RestartWarning), 1u);
    for (const gui::BoxCall& call : gui::BoxCalls()) {
        if (call.text != RestartWarning) continue;
        EXPECT_EQ(call.owner, nullptr);
        EXPECT_EQ(call.style, static_cast<UINT>(MB_OK | MB_ICONWARNING));
    }
    // On disk: hosts repaired to their originals, worm copies gone.
    for (const synth::Sample& sample : corpus) {
        const fs::path path = folder / (sample.name + ".exe");
        if (!sample.layers.empty()) {
            EXPECT_EQ(ReadAll(path), std::string(sample.clean.begin(), sample.clean.end())) << sample.name;
        } else if (sample.verdict == 1) {
            EXPECT_FALSE(fs::exists(path)) << sample.name;
        } else {
            EXPECT_EQ(ReadAll(path), std::string(sample.bytes.begin(), sample.bytes.end())) << sample.name;
        }
    }

    // Warnings alone never ask for a restart; the list starts afresh.
    const fs::path warnings = FreshFolder("warnings");
    ASSERT_TRUE(synth::WriteBytes((warnings / "w.exe").string(), synth::MakeElkernC(true, 5, synth::CStretch::WrongCrc).bytes));
    gui::ForgetBoxCalls();
    Select(warnings);
    PressAndWait(ScanButton);  // the start opens no box: handled when this returns
    ASSERT_TRUE(WaitFor(IdleWithEveryButton));
    EXPECT_TRUE(gui::BoxCalls().empty());
    const auto warningRows = gui::Rows();
    ASSERT_EQ(warningRows.size(), 12u);
    EXPECT_EQ(warningRows[0].second.rfind(WarningPrefix, 0), 0u) << warningRows[0].second;
    ExpectReport(warningRows);
    EXPECT_EQ(ScanStatistics.warnings, 1);

    EXPECT_TRUE(session.Exit());
    fs::remove_all(folder);
    fs::remove_all(warnings);
}

namespace {
// Holds the worker with its first file in hand, right before that file is
// opened for writing, until the test lets it go: the middle of a scan,
// whatever the machine's speed.
HANDLE fileInHand, letGo;
void HoldFirstFileInHand(const char*) {
    seamBeforeWritableOpen = nullptr;
    SetEvent(fileInHand);
    WaitForSingleObject(letGo, INFINITE);
}

struct HeldScan {
    HeldScan() {
        fileInHand = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        letGo = CreateEventA(nullptr, TRUE, FALSE, nullptr);
        seamBeforeWritableOpen = HoldFirstFileInHand;
    }
    ~HeldScan() {
        seamBeforeWritableOpen = nullptr;
        SetEvent(letGo);
    }
    bool Holding() const { return WaitForSingleObject(fileInHand, 60000) == WAIT_OBJECT_0; }
    void LetGo() const { SetEvent(letGo); }
};


// What a stop leaves: the file in hand finished (the first worm deleted),
// nothing more examined, and the same report as after a whole run.
void ExpectStoppedAfterFirstFile(const fs::path& folder, int count) {
    EXPECT_EQ(ScanStatistics.files, 1);
    EXPECT_EQ(ScanStatistics.infected, 1);
    EXPECT_EQ(ScanStatistics.deleted, 1);
    const auto rows = gui::Rows();
    ExpectReport(rows);
    ASSERT_EQ(rows.size(), 13u);
    EXPECT_EQ(rows[0].second.rfind(InfectedPrefix, 0), 0u);
    EXPECT_EQ(rows[1], std::make_pair(rows[0].first, std::string(DeletedText)));
    int left = 0;
    for (int i = 0; i < count; ++i) left += fs::exists(folder / ("w" + std::to_string(i) + ".exe")) ? 1 : 0;
    EXPECT_EQ(left, count - 1);
    EXPECT_FALSE(fs::exists(rows[0].first));
}
}  // namespace

TEST(Dialog, InterruptStopsTheWalkAndTheDialogIsNeverLeftStuck) {
    constexpr int WormCount = 20;
    const fs::path big = WormFolder("big", WormCount);
    const fs::path tiny = FreshFolder("tiny");
    std::ofstream(tiny / "a.txt") << "a";

    gui::DialogSession session;
    ASSERT_TRUE(session.Started());
    HWND list = GetDlgItem(MainDialog, 1006);

    // Yes while a file is in hand: stopping at once, that file is finished,
    // nothing more is examined, and the same report follows.
    {
        HeldScan held;
        Select(big);
        Press(ScanButton);
        ASSERT_TRUE(held.Holding());
        Press(ScanButton);
        HWND question = gui::WaitForBox(InterruptQuestion);
        ASSERT_NE(question, nullptr);
        gui::Answer(question, IDYES);
        // The dialog's thread makes the three changes one after the other.
        ASSERT_TRUE(WaitFor([] {
            return ScanState == StateStopping && !ControlEnabled(ScanButton) && keepScanning.load() == 0;
        }));
        EXPECT_FALSE(ControlEnabled(FolderButton));
        EXPECT_FALSE(ControlEnabled(ExitButton));
        held.LetGo();
        HWND warning = gui::WaitForBox(RestartWarning);
        ASSERT_NE(warning, nullptr);
        gui::Answer(warning, IDOK);
        ASSERT_TRUE(WaitFor(IdleWithEveryButton));
    }
    ExpectStoppedAfterFirstFile(big, WormCount);
    EXPECT_TRUE(LastRowInView());
    EXPECT_EQ(CountBoxes(RestartWarning), 1u);

    // The interrupt races the report's end: whichever wins, the dialog ends
    // up idle with every button usable and a new scan possible. A column
    // width posted after the interrupt tells when the dialog has taken it.
    Select(tiny);
    for (int round = 0; round < 15; ++round) {
        PressAndWait(ScanButton);
        Press(ScanButton);
        const int marker = 120 + round;
        PostMessageA(list, LVM_SETCOLUMNWIDTH, 1, MAKELPARAM(marker, 0));
        const bool settled = WaitFor([&] {
            if (HWND box = gui::FindBox(InterruptQuestion)) gui::Answer(box, IDYES);
            return SendMessageA(list, LVM_GETCOLUMNWIDTH, 1, 0) == marker && IdleWithEveryButton() &&
                   gui::FindOtherDialog() == nullptr;
        });
        ASSERT_TRUE(settled) << "round " << round << " state " << ScanState;
        ExpectReport(gui::Rows());
        EXPECT_TRUE(LastRowInView());
    }

    EXPECT_TRUE(session.Exit());
    fs::remove_all(big);
    fs::remove_all(tiny);
}

namespace {
struct EndSessionCall {
    LRESULT answer = -1;
    bool fileInHandFinished = false;
};

DWORD WINAPI SendEndSession(LPVOID parameter) {
    auto* call = static_cast<EndSessionCall*>(parameter);
    call->answer = SendMessageA(MainDialog, WM_ENDSESSION, TRUE, 0);
    call->fileInHandFinished = ScanStatistics.deleted == 1;
    return 0;
}
}  // namespace

TEST(Dialog, TheSessionNeverEndsWithAFileInHandAndAForgedEndIsIgnored) {
    constexpr int WormCount = 5;
    const fs::path folder = WormFolder("session", WormCount);
    gui::DialogSession session;
    ASSERT_TRUE(session.Started());
    // Idle, the session may end.
    EXPECT_NE(SendMessageA(MainDialog, WM_QUERYENDSESSION, 0, static_cast<LPARAM>(ENDSESSION_LOGOFF)), 0);

    HeldScan held;
    gui::ForgetBoxCalls();
    Select(folder);
    Press(ScanButton);
    ASSERT_TRUE(held.Holding());

    // Another program's copy of the end of the scan changes nothing: no
    // button comes back, so no second worker can start.
    PostMessageA(MainDialog, WM_SCAN_FINISHED, 0, 0);
    gui::HandlePosted();
    EXPECT_EQ(ScanState, StateScanning);
    EXPECT_EQ(ControlText(ScanButton), InterruptButtonText);
    EXPECT_FALSE(ControlEnabled(FolderButton));
    EXPECT_FALSE(ControlEnabled(ExitButton));

    // Shutdown asked for with a file in hand: refused, and the scan stops.
    EXPECT_EQ(SendMessageA(MainDialog, WM_QUERYENDSESSION, 0, 0), 0);
    EXPECT_EQ(ScanState, StateStopping);
    EXPECT_FALSE(ControlEnabled(ScanButton));
    EXPECT_EQ(keepScanning.load(), 0);
    EXPECT_EQ(SendMessageA(MainDialog, WM_QUERYENDSESSION, 0, 0), 0);

    // The session ends all the same: the dialog returns only once the file
    // in hand is finished, and the report asks nothing of anybody.
    EndSessionCall call;
    HANDLE sender = CreateThread(nullptr, 0, SendEndSession, &call, 0, nullptr);
    ASSERT_NE(sender, nullptr);
    ASSERT_TRUE(WaitFor([] { return sessionEnding.load() == 1; }));
    EXPECT_EQ(WaitForSingleObject(sender, 0), static_cast<DWORD>(WAIT_TIMEOUT));
    held.LetGo();
    ASSERT_EQ(WaitForSingleObject(sender, 60000), static_cast<DWORD>(WAIT_OBJECT_0));
    CloseHandle(sender);
    EXPECT_EQ(call.answer, 0);
    EXPECT_TRUE(call.fileInHandFinished);
    ASSERT_TRUE(WaitFor(IdleWithEveryButton));
    ExpectStoppedAfterFirstFile(folder, WormCount);
    EXPECT_EQ(CountBoxes(RestartWarning), 0u);
    EXPECT_NE(SendMessageA(MainDialog, WM_QUERYENDSESSION, 0, 0), 0);

    // While the report's restart warning is open no file is in hand: the
    // session may end, and a late copy of the end changes nothing once idle.
    const fs::path one = WormFolder("session-one", 1);
    Select(one);
    Press(ScanButton);
    HWND warning = gui::WaitForBox(RestartWarning);
    ASSERT_NE(warning, nullptr);
    EXPECT_EQ(ScanState, StateScanning);
    EXPECT_NE(SendMessageA(MainDialog, WM_QUERYENDSESSION, 0, 0), 0);
    EXPECT_EQ(ScanState, StateScanning);
    PostMessageA(MainDialog, WM_SCAN_FINISHED, 0, 0);
    gui::HandlePosted();
    EXPECT_EQ(ScanState, StateScanning);
    gui::Answer(warning, IDOK);
    ASSERT_TRUE(WaitFor(IdleWithEveryButton));
    PostMessageA(MainDialog, WM_SCAN_FINISHED, 0, 0);
    gui::HandlePosted();
    EXPECT_TRUE(IdleWithEveryButton());

    EXPECT_TRUE(session.Exit());
    fs::remove_all(folder);
    fs::remove_all(one);
}

namespace {
HANDLE WINAPI FailingCreateThread(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD, LPDWORD) {
    SetLastError(ERROR_NOT_ENOUGH_MEMORY);
    return nullptr;
}

// A stop confirmed before the new worker has run a single instruction.
HANDLE WINAPI StopBeforeWorkerRuns(LPSECURITY_ATTRIBUTES security, SIZE_T stack, LPTHREAD_START_ROUTINE start,
                                   LPVOID parameter, DWORD flags, LPDWORD id) {
    HANDLE worker = CreateThread(security, stack, start, parameter, flags | CREATE_SUSPENDED, id);
    StopScan();
    if (worker != nullptr) ResumeThread(worker);
    return worker;
}
}  // namespace

TEST(Dialog, FailedWorkerStartAndFolderBrowser) {
    gui::DialogSession session;
    ASSERT_TRUE(session.Started());

    // A worker that cannot start leaves the dialog idle and usable.
    seamCreateThread = FailingCreateThread;
    PressAndWait(ScanButton);
    seamCreateThread = CreateThread;
    EXPECT_TRUE(IdleWithEveryButton());
    EXPECT_TRUE(gui::Rows().empty());

    // A stop that comes while the worker is starting is not undone by it.
    const fs::path folder = FreshFolder("stopped");
    std::ofstream(folder / "a.txt") << "a";
    Select(folder);
    seamCreateThread = StopBeforeWorkerRuns;
    Press(ScanButton);
    ASSERT_TRUE(WaitFor([] { return gui::Rows().size() == 11u && IdleWithEveryButton(); }));
    seamCreateThread = CreateThread;
    EXPECT_EQ(ScanStatistics.files, 0);
    EXPECT_EQ(ScanStatistics.folders, 1);
    ExpectReport(gui::Rows());
    fs::remove_all(folder);

    // The folder browser belongs to the dialog, which cannot be used while it
    // is open; cancelling it forgets an earlier choice.
    std::strcpy(SelectedFolder, "C:\\earlier");
    Press(FolderButton);
    HWND browser = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (browser = gui::FindOtherDialog()) != nullptr; }));
    EXPECT_EQ(GetWindow(browser, GW_OWNER), MainDialog);
    EXPECT_FALSE(IsWindowEnabled(MainDialog));
    gui::Answer(browser, IDCANCEL);
    ASSERT_TRUE(WaitFor([] { return IsWindowEnabled(MainDialog) != FALSE; }));
    PressAndWait(AboutButton + 1);
    EXPECT_STREQ(SelectedFolder, "");
    EXPECT_EQ(ControlText(1004), "Todas las unidades de disco");
    EXPECT_TRUE(IdleWithEveryButton());

    EXPECT_TRUE(session.Exit());
}

TEST(RowBatch, CutsWhereACharacterBegins) {
    // Within the limit nothing is cut, whatever the bytes.
    EXPECT_EQ(CutAtCharacter("ab\xD0\x96", 4, 4), 4u);
    EXPECT_EQ(CutAtCharacter("\x96\x96\x96\x96\x96", 5, 5), 5u);
    // A cut that falls inside a sequence of two, three or four bytes takes
    // the whole character out; one that falls after it keeps it.
    EXPECT_EQ(CutAtCharacter("ab\xD0\x96z", 5, 3), 2u);
    EXPECT_EQ(CutAtCharacter("ab\xD0\x96z", 5, 4), 4u);
    EXPECT_EQ(CutAtCharacter("a\xE6\xBC\xA2z", 5, 2), 1u);
    EXPECT_EQ(CutAtCharacter("a\xE6\xBC\xA2z", 5, 3), 1u);
    EXPECT_EQ(CutAtCharacter("a\xE6\xBC\xA2z", 5, 4), 4u);
    EXPECT_EQ(CutAtCharacter("a\xF0\x9D\x84\x9Ez", 6, 4), 1u);
    EXPECT_EQ(CutAtCharacter("a\xF0\x9D\x84\x9Ez", 6, 5), 5u);
    // A lone surrogate is a sequence of three like any other.
    EXPECT_EQ(CutAtCharacter("a\xED\xA0\x80z", 5, 3), 1u);
    // Continuation bytes without a lead: the cut backs over three at most.
    EXPECT_EQ(CutAtCharacter("a\x96\x96\x96\x96\x96z", 7, 5), 2u);
    EXPECT_EQ(CutAtCharacter("\x96\x96\x96z", 4, 2), 0u);
    EXPECT_EQ(CutAtCharacter("", 0, 0), 0u);
}

namespace {

// A path of Cyrillic and CJK letters, a character past the 16-bit plane and
// an unpaired surrogate: as the program carries it on the NT family (WTF-8)
// and as the system spells it.
const char* const WidePath = "C:\\\xD0\x96\xD1\x83\xD0\xBA\\\xE6\xBC\xA2\xE5\xAD\x97\\\xF0\x9D\x84\x9E\xED\xA0\x80.exe";
const wchar_t* const WidePathUnits = L"C:\\\u0416\u0443\u043A\\\u6F22\u5B57\\\U0001D11E\xD800.exe";

struct FamilyChoice {
    explicit FamilyChoice(PlatformFamily family) { seamPlatformFamily = family; }
    ~FamilyChoice() { seamPlatformFamily = FamilyAuto; }
};

INT_PTR CALLBACK PlainDialog(HWND, UINT, WPARAM, LPARAM) { return FALSE; }

RECT RectInDialog(HWND control) {
    RECT area{};
    GetWindowRect(control, &area);
    MapWindowPoints(nullptr, MainDialog, reinterpret_cast<POINT*>(&area), 2);
    return area;
}

BOOL CALLBACK CountObjectFields(HWND child, LPARAM count) {
    if (GetDlgCtrlID(child) == 1004) ++*reinterpret_cast<int*>(count);
    return TRUE;
}

// The rows the worker queued, inserted as the dialog inserts a batch.
void InsertQueuedRows() { TakeRows(InsertResultRow); }

std::wstring ThroughCodePage(const char* text) {
    const int units = MultiByteToWideChar(CP_ACP, 0, text, -1, nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_ACP, 0, text, -1, &wide[0], units);
    wide.resize(static_cast<size_t>(units) - 1);
    return wide;
}

}  // namespace

TEST(Dialog, OnTheNtFamilyWideNamesReachTheListAndTheObjectFieldWhole) {
    FamilyChoice nt(FamilyNt);
    gui::DialogSession session;
    ASSERT_TRUE(session.Started());

    // The object field is a wide edit control, the only control 1004, in
    // the template's place, style, font and tab order.
    HWND field = GetDlgItem(MainDialog, 1004);
    ASSERT_NE(field, nullptr);
    EXPECT_TRUE(IsWindowUnicode(field));
    int fields = 0;
    EnumChildWindows(MainDialog, CountObjectFields, reinterpret_cast<LPARAM>(&fields));
    EXPECT_EQ(fields, 1);
    RECT expected{37, 82, 37 + 278, 82 + 12};
    ASSERT_TRUE(MapDialogRect(MainDialog, &expected));
    const RECT area = RectInDialog(field);
    EXPECT_EQ(area.left, expected.left);
    EXPECT_EQ(area.top, expected.top);
    EXPECT_EQ(area.right, expected.right);
    EXPECT_EQ(area.bottom, expected.bottom);
    const auto style = static_cast<DWORD>(GetWindowLongA(field, GWL_STYLE));
    const DWORD kept = WS_CHILD | WS_VISIBLE | WS_TABSTOP | ES_READONLY | ES_OEMCONVERT | ES_AUTOHSCROLL;
    EXPECT_EQ(style & (kept | WS_DISABLED | ES_MULTILINE | ES_PASSWORD), kept);
    // The styles are the ones the dialog manager gives the template's field.
    HWND reference = CreateDialogParamA(GetModuleHandleA(nullptr), MAKEINTRESOURCEA(IDD_MAIN), nullptr, PlainDialog, 0);
    ASSERT_NE(reference, nullptr);
    HWND templateField = GetDlgItem(reference, 1004);
    EXPECT_FALSE(IsWindowUnicode(templateField));
    EXPECT_EQ(style, static_cast<DWORD>(GetWindowLongA(templateField, GWL_STYLE)));
    EXPECT_EQ(GetWindowLongA(field, GWL_EXSTYLE), GetWindowLongA(templateField, GWL_EXSTYLE));
    DestroyWindow(reference);
    const LRESULT font = SendMessageA(field, WM_GETFONT, 0, 0);
    EXPECT_NE(font, 0);
    EXPECT_EQ(font, SendMessageA(GetDlgItem(MainDialog, 1023), WM_GETFONT, 0, 0));
    EXPECT_EQ(GetWindow(field, GW_HWNDNEXT), GetDlgItem(MainDialog, 1023));
    EXPECT_EQ(gui::ControlTextW(1004), L"Todas las unidades de disco");
    EXPECT_TRUE(IdleWithEveryButton());

    // Rows read back wide exactly as the system spells the path, in either
    // column; bytes that are no WTF-8 are shown leniently.
    constexpr size_t Limit = RowTextLimit;
    const std::pair<std::string, std::wstring> objects[] = {
        {WidePath, WidePathUnits},
        {"C:\\caf\xE9.exe", L"C:\\caf\uFFFD.exe"},
        {"C:\\\xE6\xBCx", L"C:\\\uFFFDx"},
        // The batch's cut, at its limit and one byte past it, inside a
        // character of two bytes and of four: the character goes whole.
        {std::string(Limit - 2, 'a') + "\xD0\x96", std::wstring(Limit - 2, L'a') + L"\u0416"},
        {std::string(Limit - 1, 'a') + "\xD0\x96", std::wstring(Limit - 1, L'a')},
        {std::string(Limit - 4, 'b') + "\xF0\x9D\x84\x9E", std::wstring(Limit - 4, L'b') + L"\U0001D11E"},
        {std::string(Limit - 3, 'b') + "\xF0\x9D\x84\x9E", std::wstring(Limit - 3, L'b')},
    };
    // Inserted one by one: two long rows fill a batch, and outside a scan
    // the dialog takes no full batch.
    for (const auto& object : objects) {
        AddResultRow(object.first.c_str(), DeletedText);
        InsertQueuedRows();
    }
    AddResultRow("x", WidePath);
    InsertQueuedRows();
    const auto rows = gui::WideRows();
    ASSERT_EQ(rows.size(), std::size(objects) + 1);
    for (size_t i = 0; i < std::size(objects); ++i) {
        EXPECT_EQ(rows[i].first, objects[i].second) << i;
        EXPECT_EQ(rows[i].second, L"eliminado") << i;
    }
    EXPECT_EQ(rows.back(), std::make_pair(std::wstring(L"x"), std::wstring(WidePathUnits)));

    // The object field shows the path whole, the longest path the system
    // has included; an empty path still means all drives.
    ShowObject(WidePath);
    EXPECT_EQ(gui::ControlTextW(1004), WidePathUnits);
    std::string longest = "C:\\";
    std::wstring longestUnits = L"C:\\";
    while (longestUnits.size() < LongestPathUnits) {
        longest += "\xE6\xBC\xA2";
        longestUnits += L'\u6F22';
    }
    ASSERT_LT(longest.size(), size_t{ObjectPathSize});
    ShowObject(longest.c_str());
    EXPECT_EQ(gui::ControlTextW(1004), longestUnits);
    ShowObject("C:\\caf\xE9\\");
    EXPECT_EQ(gui::ControlTextW(1004), L"C:\\caf\uFFFD\\");
    ShowObject("");
    EXPECT_EQ(gui::ControlTextW(1004), L"Todas las unidades de disco");
    EXPECT_TRUE(IdleWithEveryButton());

    EXPECT_TRUE(session.Exit());
}

std::wstring WideOf(const std::string& utf8) {
    const int units = MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), nullptr, 0);
    std::wstring wide(static_cast<size_t>(units), L'\0');
    MultiByteToWideChar(CP_UTF8, 0, utf8.data(), static_cast<int>(utf8.size()), &wide[0], units);
    return wide;
}

TEST(Dialog, ThreatsInsideMailAndArchivesAreRowsOfTheirFilesWhichStayAsTheyWere) {
    FamilyChoice nt(FamilyNt);
    const fs::path folder = FreshFolder("inside");
    const std::vector<synth::InsideSample> samples = synth::BuildInsideSamples(3);
    for (const synth::InsideSample& sample : samples) {
        const fs::path path = folder / fs::path(sample.path).make_preferred();
        fs::create_directories(path.parent_path());
        ASSERT_TRUE(synth::WriteBytes(path.string(), sample.bytes));
    }
    gui::DialogSession session;
    ASSERT_TRUE(session.Started());
    Select(folder);
    Press(ScanButton);

    // Nothing on the disk needs a restart; the infected messages need the
    // mail program, without a preview: one box says so.
    HWND box = gui::WaitForBox(InfectedMailWarning);
    ASSERT_NE(box, nullptr);
    gui::Answer(box, IDOK);
    EXPECT_TRUE(WaitFor([] { return ScanState == StateIdle; }));
    EXPECT_EQ(CountBoxes(RestartWarning), 0u);
    EXPECT_EQ(CountBoxes(InfectedMailWarning), 1u);

    // The rows, read wide: the file's path and the status with the decoded
    // subject, in the order the walk met them; the report's last lines.
    std::vector<std::pair<std::wstring, std::wstring>> want;
    for (const synth::InsideSample& sample : samples) {
        const std::wstring path = (folder / fs::path(sample.path).make_preferred()).wstring();
        for (const std::string& status : sample.statuses) want.emplace_back(path, WideOf(status));
    }
    std::vector<std::pair<std::wstring, std::wstring>> found;
    const auto rows = gui::WideRows();
    for (const auto& row : rows) {
        if (row.first.rfind(folder.wstring(), 0) == 0) found.push_back(row);
    }
    std::sort(want.begin(), want.end());
    std::sort(found.begin(), found.end());
    EXPECT_EQ(found, want);
    const std::vector<std::string> report = synth::InsideReportLines();
    ASSERT_GE(rows.size(), report.size());
    for (size_t i = 0; i < report.size(); ++i) {
        const std::string& line = report[i];
        const size_t tab = line.find('\t');
        EXPECT_EQ(rows[rows.size() - report.size() + i],
                  std::make_pair(WideOf(line.substr(0, tab)), WideOf(line.substr(tab + 1))));
    }
    EXPECT_EQ(ScanStatistics.infected, 0);
    for (const synth::InsideSample& sample : samples) {
        const std::string bytes = ReadAll(folder / fs::path(sample.path).make_preferred());
        EXPECT_TRUE(bytes == std::string(sample.bytes.begin(), sample.bytes.end())) << sample.path << " was changed";
    }
    EXPECT_TRUE(IdleWithEveryButton());
    EXPECT_TRUE(session.Exit());
}

TEST(Dialog, OnThe9xFamilyTextsGoThroughTheCodePage) {
    FamilyChoice win9x(FamilyWin9x);
    gui::DialogSession session;
    ASSERT_TRUE(session.Started());

    // The template's own field; rows and field take the code page's bytes,
    // which are not read as WTF-8 (that would make this a replacement mark).
    HWND field = GetDlgItem(MainDialog, 1004);
    EXPECT_FALSE(IsWindowUnicode(field));
    const char* const ansi = "C:\\caf\xE9\\\xD0\x96.exe";
    const std::wstring shown = ThroughCodePage(ansi);
    ASSERT_EQ(shown.find(L'\uFFFD'), std::wstring::npos) << "the code page maps every byte";
    AddResultRow(ansi, DeletedText);
    // A status with a subject and a name from inside a mail folder, UTF-8:
    // through the code page (1252 here), what it lacks as '?'.
    ASSERT_EQ(GetACP(), 1252u);
    AddResultRow(ansi, "mensaje infectado: Win32.Klez.H@mm (Feliz cumplea\xC3\xB1os \xE6\xBC\xA2, 12/05/2002, "
                       "\xC3\xA9t\xC3\xA9.pif)");
    InsertQueuedRows();
    const auto rows = gui::WideRows();
    ASSERT_EQ(rows.size(), 2u);
    EXPECT_EQ(rows[0], std::make_pair(shown, std::wstring(L"eliminado")));
    EXPECT_EQ(rows[1], std::make_pair(shown, std::wstring(L"mensaje infectado: Win32.Klez.H@mm (Feliz cumplea\u00F1os ?, "
                                                          L"12/05/2002, \u00E9t\u00E9.pif)")));
    ShowObject(ansi);
    EXPECT_EQ(gui::ControlTextW(1004), shown);
    ShowObject("");
    EXPECT_EQ(gui::ControlText(1004), "Todas las unidades de disco");

    EXPECT_TRUE(session.Exit());
}

namespace {
HTREEITEM FindTreeItem(HWND tree, HTREEITEM parent, const std::wstring& text) {
    for (auto item = reinterpret_cast<HTREEITEM>(
             SendMessageW(tree, TVM_GETNEXTITEM, TVGN_CHILD, reinterpret_cast<LPARAM>(parent)));
         item != nullptr; item = reinterpret_cast<HTREEITEM>(
                              SendMessageW(tree, TVM_GETNEXTITEM, TVGN_NEXT, reinterpret_cast<LPARAM>(item)))) {
        wchar_t label[MAX_PATH] = L"";
        TVITEMW data{};
        data.mask = TVIF_TEXT;
        data.hItem = item;
        data.pszText = label;
        data.cchTextMax = MAX_PATH;
        if (SendMessageW(tree, TVM_GETITEMW, 0, reinterpret_cast<LPARAM>(&data)) && text == data.pszText) return item;
    }
    return nullptr;
}
}  // namespace

TEST(Dialog, OnTheNtFamilyAFolderChosenInTheBrowserIsCarriedByItsWideName) {
    // A folder on the desktop, which is where the browser starts.
    wchar_t desktop[MAX_PATH] = L"";
    ASSERT_EQ(SHGetFolderPathW(nullptr, CSIDL_DESKTOPDIRECTORY, nullptr, 0, desktop), S_OK);
    const std::wstring name = L"\u0416\u0443\u043A \u6F22\u5B57 \U0001D11E";
    const char* const nameBytes = "\xD0\x96\xD1\x83\xD0\xBA \xE6\xBC\xA2\xE5\xAD\x97 \xF0\x9D\x84\x9E";
    const fs::path folder = fs::path(desktop) / name;
    fs::remove_all(folder);
    ASSERT_TRUE(fs::create_directories(folder));
    std::string expected(3 * MAX_PATH, '\0');
    expected.resize(EncodeWtf8(desktop, std::wcslen(desktop), &expected[0]));
    expected += "\\";
    expected += nameBytes;

    FamilyChoice nt(FamilyNt);
    gui::DialogSession session;
    ASSERT_TRUE(session.Started());
    std::strcpy(SelectedFolder, "C:\\earlier");
    Press(FolderButton);
    HWND browser = nullptr;
    ASSERT_TRUE(WaitFor([&] { return (browser = gui::FindOtherDialog()) != nullptr; }));
    HWND tree = FindWindowExA(browser, nullptr, "SysTreeView32", nullptr);
    ASSERT_NE(tree, nullptr);
    HTREEITEM item = nullptr;
    ASSERT_TRUE(WaitFor([&] {
        const auto root = reinterpret_cast<HTREEITEM>(SendMessageW(tree, TVM_GETNEXTITEM, TVGN_ROOT, 0));
        SendMessageW(tree, TVM_EXPAND, TVE_EXPAND, reinterpret_cast<LPARAM>(root));
        return (item = FindTreeItem(tree, root, name)) != nullptr;
    }));
    ASSERT_TRUE(SendMessageW(tree, TVM_SELECTITEM, TVGN_CARET, reinterpret_cast<LPARAM>(item)));
    gui::Answer(browser, IDOK);
    ASSERT_TRUE(WaitFor([] { return IsWindowEnabled(MainDialog) != FALSE; }));
    PressAndWait(AboutButton + 1);
    EXPECT_EQ(std::string(SelectedFolder), expected);
    EXPECT_EQ(gui::ControlTextW(1004), std::wstring(desktop) + L"\\" + name);
    EXPECT_TRUE(IdleWithEveryButton());

    // The chosen folder is scanned under its own name: a host in a CJK
    // folder, a fullwidth look-alike of a clean file beside it, and a
    // fullwidth way out of the folder, with a worm waiting where the code
    // page's best fit would lead (the desktop).
    const synth::Sample host = synth::MakeElkernAB('A', 2, 771), lookAlike = synth::MakeWormCopy(1, 772);
    const synth::Sample trick = synth::MakeWormCopy(2, 773), outside = synth::MakeWormCopy(3, 774);
    const synth::Sample clean = synth::MakeCleanSample(775);
    const std::wstring hostFile = L"\u5831\u544A\\host.exe", lookAlikeFile = L"\uFF57\uFF4F\uFF52\uFF4D.exe";
    const std::wstring trickFile = L"wf\\\uFF0E\uFF0E\uFF3C\uFF0E\uFF0E\uFF3Cvictim.exe";
    const fs::path outsideFile = fs::path(desktop) / L"victim.exe";
    ASSERT_TRUE(fs::create_directories(folder / L"\u5831\u544A") && fs::create_directories(folder / L"wf"));
    for (const auto& [file, sample] : {std::make_pair(folder / hostFile, host), std::make_pair(folder / lookAlikeFile, lookAlike),
                                       std::make_pair(folder / trickFile, trick), std::make_pair(outsideFile, outside),
                                       std::make_pair(folder / L"worm.exe", clean)}) {
        std::ofstream out(file, std::ios::binary);
        out.write(reinterpret_cast<const char*>(sample.bytes.data()), static_cast<std::streamsize>(sample.bytes.size()));
        ASSERT_TRUE(out.good()) << file;
    }
    Press(ScanButton);
    HWND warning = gui::WaitForBox(RestartWarning);
    ASSERT_NE(warning, nullptr);
    gui::Answer(warning, IDOK);
    ASSERT_TRUE(WaitFor([] { return ScanState == StateIdle; }));
    PressAndWait(AboutButton + 1);
    const std::wstring chosen = std::wstring(desktop) + L"\\" + name + L"\\";
    const auto wide = [](const std::string& text) { return std::wstring(text.begin(), text.end()); };
    std::vector<std::pair<std::wstring, std::wstring>> rows = gui::WideRows();
    ASSERT_GE(rows.size(), 11u);
    rows.resize(rows.size() - 11);  // the report
    std::sort(rows.begin(), rows.end());
    std::vector<std::pair<std::wstring, std::wstring>> expectedRows = {
        {chosen + hostFile, wide(InfectedPrefix + host.threat)}, {chosen + hostFile, wide(DisinfectedText)},
        {chosen + lookAlikeFile, wide(InfectedPrefix + lookAlike.threat)}, {chosen + lookAlikeFile, wide(DeletedText)},
        {chosen + trickFile, wide(InfectedPrefix + trick.threat)}, {chosen + trickFile, wide(DeletedText)}};
    std::sort(expectedRows.begin(), expectedRows.end());
    EXPECT_EQ(rows, expectedRows);
    EXPECT_EQ(ScanStatistics.files, 4);
    EXPECT_EQ(ScanStatistics.folders, 3);
    const auto content = [](const fs::path& file) {
        std::ifstream in(file, std::ios::binary);
        return synth::Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    };
    EXPECT_EQ(content(folder / hostFile), host.clean);
    EXPECT_EQ(content(folder / L"worm.exe"), clean.bytes);
    EXPECT_EQ(content(outsideFile), outside.bytes) << "nothing outside the chosen folder is reached";
    EXPECT_FALSE(fs::exists(folder / lookAlikeFile));
    EXPECT_FALSE(fs::exists(folder / trickFile));

    EXPECT_TRUE(session.Exit());
    fs::remove_all(folder);
    fs::remove(outsideFile);
}
