// The start-up sweep against real processes, services and Run values in the
// test's Wine prefix. Boxes are recorded instead of shown; every process,
// service and value a scenario creates is removed by its guards.
#ifdef _WIN32
#include <gtest/gtest.h>

#include <windows.h>

#include <cstring>
#include <string>
#include <vector>

#include "resident/resident_sweep.h"
#include "resident/sweep_messages.h"
#include "tests/resident_support.h"

namespace {

using namespace resident_test;

const std::string Caption = "Velmora - Klez & Elkern Herramienta de desinfeccion";
const std::string ProcessRemoved = "El proceso Klez eliminado";
const std::string ProcessKept = "El proceso Klez no se ha podido eliminar";
const std::string ServiceRemoved = "El servicio Klez eliminado";

constexpr DWORD TerminatedBySweep = 1;  // the exit status the sweep gives
constexpr DWORD NoProcessHasThisId = 0x7FFFFFF0u;

void ExpectBoxes(const BoxRecorder& recorder, const std::vector<std::string>& texts) {
    ASSERT_EQ(recorder.texts(), texts);
    for (const Box& box : recorder.boxes()) {
        EXPECT_EQ(box.caption, Caption);
        EXPECT_FALSE(box.owned);
        const UINT expectedStyle = (box.text == ProcessKept || box.text == "El servicio Klez no se ha podido eliminar")
                                       ? (MB_OK | MB_ICONERROR)
                                       : (MB_OK | MB_ICONWARNING);
        EXPECT_EQ(box.style, expectedStyle) << box.text;
    }
}

TEST(ResidentSweep, HasThreatPrefixComparesOnlyTheStartIgnoringCase) {
    for (const char* name : {"wink", "WINK123.EXE", "WinK", "krn132", "KRN132x.exe", "wqk", "Wqk", "wqkdemo.exe"}) {
        EXPECT_TRUE(HasThreatPrefix(name)) << name;
    }
    for (const char* name : {"", "win", "wqj", "krn13", "krn123", "xwink.exe", " wink", "w1nk", "winx"}) {
        EXPECT_FALSE(HasThreatPrefix(name)) << name;
    }
}

TEST(ResidentSweep, FindsTheFileNameByTheCharactersOfTheCodePage) {
    // Without the double-byte tables nothing below would mean anything.
    ASSERT_TRUE(IsDBCSLeadByteEx(932, 0x83));
    ASSERT_FALSE(IsDBCSLeadByteEx(1252, 0x83));
    const char* const tricky = "C:\\x\\\x83\x5Cwink.exe";
    // A lead byte without its trail byte: the scan must stop at the NUL and
    // never reach the separator behind it.
    const char cut[] = "C:\\x\\\x83\0\\wink.exe";
    // Path, code page, file name. 0xB1 is a lead byte in 936 but a one-byte
    // katakana in 932.
    const struct {
        const char* path;
        UINT codePage;
        const char* name;
    } cases[] = {{tricky, 932, "\x83\x5Cwink.exe"},
                 {tricky, 1252, "wink.exe"},
                 {"C:\\\xB1\x5Cwqk.exe", 936, "\xB1\x5Cwqk.exe"},
                 {"C:\\\xB1\x5Cwqk.exe", 932, "wqk.exe"},
                 {"C:\\\xB3\x5C\\krn132.exe", 950, "krn132.exe"},
                 {"\x83\x5C\x83\x5Cwink.exe", 932, "\x83\x5C\x83\x5Cwink.exe"},
                 {"C:\\x\\", 932, ""},
                 {cut, 932, "\x83"}};
    for (const auto& c : cases) {
        // The name is the end of the path itself, not a copy.
        EXPECT_EQ(ProcessFileName(c.path, c.codePage), c.path + std::strlen(c.path) - std::strlen(c.name))
            << c.path << " in " << c.codePage;
        EXPECT_STREQ(ProcessFileName(c.path, c.codePage), c.name);
    }
    EXPECT_FALSE(HasThreatPrefix(ProcessFileName(tricky, 932)));
    EXPECT_TRUE(HasThreatPrefix(ProcessFileName(tricky, 1252)));
    EXPECT_EQ(ProcessFileName(tricky), ProcessFileName(tricky, GetACP()));
}

TEST(ResidentSweep, APathThatMayHaveBeenCutEndsNoProcess) {
    ScratchFolder folder;
    Children children;
    const size_t child = children.StartIdle(folder.Path("idle.exe"));
    ASSERT_TRUE(children.Running(child));
    LookupFakes fakes;
    fakes.UseFakeEnumProcesses();
    fakes.UseFakeModuleFileName();
    FakeEnumProcesses::Reset(1);
    FakeEnumProcesses::realIds = {children.Id(child)};
    FamilyChoice nt(FamilyNt);
    // Cut, the path would end in "\\winkfol" (older systems) or "\\winkfo".
    for (const bool older : {true, false}) {
        FakeModuleFileName::Reset("", older);
        FakeModuleFileName::cutInFolder = true;
        BoxRecorder recorder;
        ResidentSweep();
        ExpectBoxes(recorder, {});
        EXPECT_EQ(FakeModuleFileName::calls, 1);
        EXPECT_TRUE(children.Running(child));
    }
    // A whole path of MAX_PATH - 1 characters is read, and its file name counts.
    FakeModuleFileName::Reset("C:\\" + std::string(236, 'd') + "\\winkfolder\\wink.exe", true);
    ASSERT_EQ(FakeModuleFileName::name.size(), size_t{MAX_PATH - 1});
    BoxRecorder recorder;
    ResidentSweep();
    ExpectBoxes(recorder, {ProcessRemoved});
    EXPECT_EQ(children.WaitForEnd(child), TerminatedBySweep);
}

TEST(ResidentSweep, EndsProcessesWhoseFileNamesCarryAPrefixAndNoOthers) {
    ScratchFolder folder;
    Children children;
    const size_t wink = children.StartIdle(folder.Path("WINK123.EXE"));
    const size_t krn = children.StartIdle(folder.Path("krn132x.exe"));
    const size_t wqk = children.StartIdle(folder.Path("wqkdemo.exe"));
    const size_t inside = children.StartIdle(folder.Path("xwink.exe"));
    const size_t folderNamed = children.StartIdle(folder.Path("wink\\idle.exe"));
    for (size_t child : {wink, krn, wqk, inside, folderNamed}) ASSERT_TRUE(children.Running(child));

    const int handlesBefore = OwnHandleCount();
    BoxRecorder recorder;
    EXPECT_EQ(ResidentSweep(), 0);
    ExpectBoxes(recorder, {ProcessRemoved, ProcessRemoved, ProcessRemoved});
    EXPECT_EQ(children.WaitForEnd(wink), TerminatedBySweep);
    EXPECT_EQ(children.WaitForEnd(krn), TerminatedBySweep);
    EXPECT_EQ(children.WaitForEnd(wqk), TerminatedBySweep);
    EXPECT_TRUE(children.Running(inside));
    EXPECT_TRUE(children.Running(folderNamed));
    // Token, snapshot, process and service manager handles are all closed.
    EXPECT_EQ(OwnHandleCount(), handlesBefore);

    // Nothing left to find: a clean system shows no box at all.
    BoxRecorder again;
    ResidentSweep();
    ExpectBoxes(again, {});
    EXPECT_TRUE(children.Running(inside));
}

TEST(ResidentSweep, BoxesFollowTheOrderOfDelivery) {
    ScratchFolder folder;
    Children children;
    const size_t first = children.StartIdle(folder.Path("first.exe"));
    const size_t second = children.StartIdle(folder.Path("second.exe"));
    ASSERT_TRUE(children.Running(first));
    ASSERT_TRUE(children.Running(second));

    // Names as the 95/98/Me family reports them: whole paths, or a bare
    // name tested whole. The test's own id comes with a folder named wink.
    LookupFakes fakes;
    fakes.UseFakeToolhelp();
    FakeToolhelp::Reset({{children.Id(first), "C:\\PROGRA~1\\WINK1.EXE"},
                         {NoProcessHasThisId, "wqk"},
                         {GetCurrentProcessId(), "C:\\wink\\velmora_tests.exe"},
                         {children.Id(second), "xwqk"},
                         {children.Id(second), "krn132.EXE"}});
    FamilyChoice win9x(FamilyWin9x);
    const int handlesBefore = OwnHandleCount();
    BoxRecorder recorder;
    ResidentSweep();

    ExpectBoxes(recorder, {ProcessRemoved, ProcessKept, ProcessRemoved});
    EXPECT_EQ(children.WaitForEnd(first), TerminatedBySweep);
    EXPECT_EQ(children.WaitForEnd(second), TerminatedBySweep);
    // Process32First, four Process32Next calls that fetched the other
    // entries and a last one that failed; the last process was examined
    // once, not twice.
    EXPECT_EQ(FakeToolhelp::walks, 6);
    EXPECT_EQ(FakeToolhelp::snapshots, 1);
    EXPECT_FALSE(FakeToolhelp::entrySizeWrong);
    EXPECT_EQ(OwnHandleCount(), handlesBefore);
}

TEST(ResidentSweep, EndsItsOwnProgramOnlyWhenThatFileNameCarriesAPrefix) {
    ScratchFolder folder;
    Children children;
    // The sweep helper exits with 100 plus the boxes it would have shown.
    EXPECT_EQ(children.RunSweepChild(folder.Path("sweeper.exe")), 100u);
    EXPECT_EQ(children.RunSweepChild(folder.Path("wink\\sweeper.exe")), 100u);
    EXPECT_EQ(children.RunSweepChild(folder.Path("wqksweep.exe")), TerminatedBySweep);
    EXPECT_EQ(children.RunSweepChild(folder.Path("Krn132Sweep.exe")), TerminatedBySweep);

    // This program has run its own sweep in the other scenarios and is
    // still here; once more with the recorder on.
    BoxRecorder recorder;
    ResidentSweep();
    ExpectBoxes(recorder, {});
}

TEST(ResidentSweep, StopsAndDeletesServicesByServiceName) {
    Services services;
    ASSERT_TRUE(services.Create("wqkVelmoraTest", "Velmora test service"));
    ASSERT_TRUE(services.Create("KRN132VelmoraTest", "Another Velmora test service"));
    ASSERT_TRUE(services.Create("VelmoraDisplayTest", "wink Velmora display name"));

    SetDebugPrivilege(false);
    ASSERT_FALSE(DebugPrivilegeEnabled());
    int handlesBefore = OwnHandleCount();
    EnableDebugPrivilege();
    EXPECT_TRUE(DebugPrivilegeEnabled());
    EXPECT_EQ(OwnHandleCount(), handlesBefore);  // the token is closed

    handlesBefore = OwnHandleCount();
    BoxRecorder recorder;
    RemoveThreatServices();
    ExpectBoxes(recorder, {ServiceRemoved, ServiceRemoved});
    // A deleted service goes away only once its last handle is closed, so
    // this also shows that the sweep closed its service handles.
    EXPECT_EQ(Services::Lookup("wqkVelmoraTest"), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(Services::Lookup("KRN132VelmoraTest"), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
    EXPECT_EQ(Services::Lookup("VelmoraDisplayTest"), static_cast<DWORD>(ERROR_SUCCESS));
    // The connection to the service manager ends with its last handle.
    EXPECT_EQ(OwnHandleCount(), handlesBefore);

    BoxRecorder again;
    RemoveThreatServices();
    ExpectBoxes(again, {});
    EXPECT_EQ(Services::Lookup("VelmoraDisplayTest"), static_cast<DWORD>(ERROR_SUCCESS));
}

TEST(ResidentSweep, DeletesStartupValuesByNameInBoundedPasses) {
    RunValues values;
    for (const wchar_t* name : {L"Alpha", L"Wqk", L"xwqk", L"krn132a", L"Velmora"}) ASSERT_TRUE(values.Add(name));
    {
        RunKeyOpenCounter openings;
        RemoveThreatRunValues();
        EXPECT_EQ(openings.count(), 3);  // one pass per deletion and a last one
    }
    EXPECT_FALSE(RunValues::Exists(L"Wqk"));
    EXPECT_FALSE(RunValues::Exists(L"krn132a"));
    for (const wchar_t* name : {L"Alpha", L"xwqk", L"Velmora"}) EXPECT_TRUE(RunValues::Exists(name));

    // Names of 254 characters are read; 255 and more do not fit and stay.
    const std::wstring fits = L"wqk" + std::wstring(251, L'a');
    const std::wstring tooLong = L"wqk" + std::wstring(252, L'b');
    const std::wstring farTooLong = L"WINK" + std::wstring(296, L'c');
    ASSERT_TRUE(values.Add(fits));
    ASSERT_TRUE(values.Add(tooLong));
    ASSERT_TRUE(values.Add(farTooLong));
    {
        RunKeyOpenCounter openings;
        RemoveThreatRunValues();
        EXPECT_EQ(openings.count(), 2);
    }
    EXPECT_FALSE(RunValues::Exists(fits));
    EXPECT_TRUE(RunValues::Exists(tooLong));
    EXPECT_TRUE(RunValues::Exists(farTooLong));

    // A name outside the ANSI code page reads back as "wqk?", which names no
    // value: its deletion fails and a new pass would find it again. The
    // sweep ends all the same, after deleting what it can.
    const std::wstring undeletable = L"wqk\x4E2D";
    ASSERT_TRUE(values.Add(undeletable));
    ASSERT_TRUE(values.Add(L"krn132b"));
    {
        RunKeyOpenCounter openings;
        RemoveThreatRunValues();
        EXPECT_EQ(openings.count(), 2);
    }
    EXPECT_FALSE(RunValues::Exists(L"krn132b"));
    EXPECT_TRUE(RunValues::Exists(undeletable));

    // A key that cannot be opened ends the step at once.
    ASSERT_TRUE(values.Add(L"winkAgain"));
    {
        RunKeyOpenCounter refused(true);
        BoxRecorder recorder;
        ResidentSweep();
        EXPECT_EQ(refused.count(), 1);
        ExpectBoxes(recorder, {});
    }
    EXPECT_TRUE(RunValues::Exists(L"winkAgain"));
    RemoveThreatRunValues();
    EXPECT_FALSE(RunValues::Exists(L"winkAgain"));
}

TEST(ResidentSweep, OnThe9xFamilyHandlesProcessesAndValuesButNoServices) {
    ScratchFolder folder;
    Children children;
    Services services;
    RunValues values;
    ASSERT_TRUE(services.Create("wqkVelmora9x", "Velmora 9x test service"));
    ASSERT_TRUE(values.Add(L"wink9x"));
    const size_t child = children.StartIdle(folder.Path("WQK9X.EXE"));
    ASSERT_TRUE(children.Running(child));
    SetDebugPrivilege(false);
    ASSERT_FALSE(DebugPrivilegeEnabled());

    {
        FamilyChoice win9x(FamilyWin9x);
        BoxRecorder recorder;
        ResidentSweep();
        ExpectBoxes(recorder, {ProcessRemoved});
    }
    EXPECT_EQ(children.WaitForEnd(child), TerminatedBySweep);
    EXPECT_FALSE(RunValues::Exists(L"wink9x"));
    EXPECT_EQ(Services::Lookup("wqkVelmora9x"), static_cast<DWORD>(ERROR_SUCCESS));
    EXPECT_FALSE(DebugPrivilegeEnabled());

    // The same system seen as NT: now the privilege and the service.
    {
        FamilyChoice nt(FamilyNt);
        BoxRecorder recorder;
        ResidentSweep();
        ExpectBoxes(recorder, {ServiceRemoved});
    }
    EXPECT_TRUE(DebugPrivilegeEnabled());
    EXPECT_EQ(Services::Lookup("wqkVelmora9x"), static_cast<DWORD>(ERROR_SERVICE_DOES_NOT_EXIST));
}

}  // namespace

#endif  // _WIN32
