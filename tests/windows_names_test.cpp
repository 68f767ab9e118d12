// Windows: every file is reached by the name its folder lists, whatever the
// code page can spell. Files are planted through the verbatim form (\\?\),
// so that names the system would otherwise read again (a trailing dot, a
// look-alike of a separator) exist as they are; rows are WTF-8 and must
// spell each name byte for byte.
#ifdef _WIN32
#include <gtest/gtest.h>
#include <windows.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <utility>
#include <vector>

#include "platform/wtf8.h"
#include "scan/deferred.h"
#include "scan/handle_file.h"
#include "scan/texts.h"
#include "scan/walk.h"
#include "tests/scan_fixture.h"
#include "tests/support/synth.h"

namespace {

using recorder::Row;
using synth::MakeCleanSample;
using synth::MakeElkernAB;
using synth::MakeWormCopy;

std::wstring Wide(const std::string& text) {
    const size_t units = DecodeWtf8<wchar_t>(text.data(), text.size(), nullptr, NotWtf8, false);
    if (units == NotWtf8) return L"\xFFFD(not WTF-8)";
    std::wstring wide(units, L'\0');
    DecodeWtf8(text.data(), text.size(), &wide[0], units, false);
    return wide;
}

std::string Wtf8(const std::wstring& wide) {
    std::string text(Wtf8Size(wide.data(), wide.size()), '\0');
    EncodeWtf8(wide.data(), wide.size(), &text[0]);
    return text;
}

std::string Infected(const synth::Sample& sample) { return InfectedPrefix + sample.threat; }

// The rows of a file in use that is cured through a copy beside it.
std::vector<Row> CuredThroughCopy(const std::string& file, const synth::Sample& sample) {
    const std::string copy = file + ".zq-000";
    return {{file, Infected(sample)}, {file, CopyMadeText}, {copy, Infected(sample)}, {copy, DisinfectedText},
            {file, DisinfectedAtRestartText}};
}

// Removes a tree through the verbatim form: the fixture's own clean-up
// cannot reach names with a trailing dot or paths past MAX_PATH.
void RemoveTree(const std::wstring& folder) {
    WIN32_FIND_DATAW found;
    HANDLE find = FindFirstFileW((folder + L"\\*").c_str(), &found);
    for (bool more = find != INVALID_HANDLE_VALUE; more; more = FindNextFileW(find, &found) != 0) {
        const std::wstring name = found.cFileName;
        if ((found.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            SetFileAttributesW((folder + L"\\" + name).c_str(), FILE_ATTRIBUTE_NORMAL);
            DeleteFileW((folder + L"\\" + name).c_str());
        } else if (name != L"." && name != L"..") {
            RemoveTree(folder + L"\\" + name);
        }
    }
    if (find != INVALID_HANDLE_VALUE) FindClose(find);
    RemoveDirectoryW(folder.c_str());
}

// The restart-time moves the system has recorded, read with the wide
// functions (the code page cannot spell every name): sources and targets in
// turn, a deletion's target empty.
const wchar_t* const SessionManager = L"SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const wchar_t* const PendingValue = L"PendingFileRenameOperations";

bool ReadPending(std::wstring* data) {
    DWORD size = 0;
    const DWORD type = RRF_RT_REG_MULTI_SZ;
    if (RegGetValueW(HKEY_LOCAL_MACHINE, SessionManager, PendingValue, type, nullptr, nullptr, &size) != 0) return false;
    data->assign(size / sizeof(wchar_t), L'\0');
    const bool read =
        RegGetValueW(HKEY_LOCAL_MACHINE, SessionManager, PendingValue, type, nullptr, &(*data)[0], &size) == 0;
    data->resize(size / sizeof(wchar_t));
    return read;
}

void WritePending(const std::wstring* data) {
    if (data == nullptr) {
        RegDeleteKeyValueW(HKEY_LOCAL_MACHINE, SessionManager, PendingValue);
        return;
    }
    RegSetKeyValueW(HKEY_LOCAL_MACHINE, SessionManager, PendingValue, REG_MULTI_SZ, data->data(),
                    static_cast<DWORD>(data->size() * sizeof(wchar_t)));
}

std::vector<std::string> PendingRequests() {
    std::wstring data;
    std::vector<std::string> strings;
    if (!ReadPending(&data)) return strings;
    for (size_t start = 0, end = 0; (end = data.find(L'\0', start)) != data.npos; start = end + 1) {
        strings.push_back(Wtf8(data.substr(start, end - start)));
    }
    while (!strings.empty() && strings.back().empty()) strings.pop_back();  // the list's terminator
    return strings;
}

// Starts with none; the earlier ones are put back, so that a later start of
// the prefix does not act on test files.
struct PendingKept {
    std::wstring saved;
    bool had = ReadPending(&saved);
    PendingKept() { WritePending(nullptr); }
    ~PendingKept() { WritePending(had ? &saved : nullptr); }
};

// Every component after the drive: at most eight characters, then at most
// one dot and three more, no space.
bool IsShortPath(const std::string& path) {
    if (path.size() < 3 || path.compare(1, 2, ":\\") != 0) return false;
    for (size_t start = 3, end = 0; start <= path.size(); start = end + 1) {
        end = std::min(path.find('\\', start), path.size());
        const std::string part = path.substr(start, end - start);
        const size_t dot = std::min(part.find('.'), part.size());
        if (part.empty() || dot > 8 || part.find(' ') != part.npos || part.size() - dot > 4 ||
            part.find('.', dot + 1) != part.npos) {
            return false;
        }
    }
    return true;
}

class WindowsNamesTest : public ScanFolderTest {
protected:
    void TearDown() override {
        RemoveTree(Verbatim(""));
        ScanFolderTest::TearDown();
    }

    std::wstring Verbatim(const std::string& relative) const { return L"\\\\?\\" + Wide(Path(relative)); }
    void Folder(const std::string& relative) const {
        ASSERT_TRUE(CreateDirectoryW(Verbatim(relative).c_str(), nullptr)) << relative << ": " << GetLastError();
    }
    void Plant(const std::string& relative, const synth::Bytes& bytes) const {
        HANDLE file = CreateFileW(Verbatim(relative).c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, 0, nullptr);
        ASSERT_NE(file, INVALID_HANDLE_VALUE) << relative << ": " << GetLastError();
        DWORD written = 0;
        const BOOL ok = WriteFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &written, nullptr);
        CloseHandle(file);
        ASSERT_TRUE(ok && written == bytes.size()) << relative;
    }
    bool Present(const std::string& relative) const {
        return GetFileAttributesW(Verbatim(relative).c_str()) != INVALID_FILE_ATTRIBUTES;
    }
    // Empty when the file cannot be read (every planted file has bytes).
    synth::Bytes Content(const std::string& relative) const {
        HANDLE file = CreateFileW(Verbatim(relative).c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                  nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) return {};
        synth::Bytes bytes(GetFileSize(file, nullptr));
        DWORD done = 0;
        if (!ReadFile(file, bytes.data(), static_cast<DWORD>(bytes.size()), &done, nullptr)) done = 0;
        CloseHandle(file);
        bytes.resize(done);
        return bytes;
    }
    // Held as a running program holds it: readable, not writable.
    HANDLE Hold(const std::string& relative) const {
        return CreateFileW(Verbatim(relative).c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0,
                           nullptr);
    }
    void Scan(const std::string& relative = "") const { ScanSingleFolder(Path(relative).c_str()); }

    // The rows of each file in their order, the files in the listing's
    // order, whatever it is; every object WTF-8 that comes back unchanged.
    static void ExpectRows(std::vector<Row> expected) {
        std::vector<Row> rows = recorder::rows;
        const auto byObject = [](const Row& a, const Row& b) { return a.object < b.object; };
        std::stable_sort(rows.begin(), rows.end(), byObject);
        std::stable_sort(expected.begin(), expected.end(), byObject);
        EXPECT_EQ(rows, expected) << recorder::Dump();
        for (const Row& row : rows) EXPECT_EQ(Wtf8(Wide(row.object)), row.object);
    }
    static void ExpectCounts(const std::vector<int>& expected) {
        const ScanCounters& s = ScanStatistics;
        EXPECT_EQ((std::vector<int>{s.folders, s.files, s.infected, s.deleted, s.disinfected, s.failed}), expected)
            << "folders, files, infected, deleted, disinfected, failed";
    }
    static int Shown(const std::string& path) {
        return static_cast<int>(std::count(recorder::shownObjects.begin(), recorder::shownObjects.end(), path));
    }
};

TEST_F(WindowsNamesTest, CyrillicCjkAndAstralNamesAreTreatedAndShownExactly) {
    const std::string folders[] = {u8"Папка", u8"文件夹", u8"😀 папка"};
    const synth::Sample worm = MakeWormCopy(1, 501), astralWorm = MakeWormCopy(2, 502);
    const synth::Sample host = MakeElkernAB('A', 3, 503), astralHost = MakeElkernAB('B', 5, 504);
    const synth::Sample clean = MakeCleanSample(505);
    const std::string wormFile = folders[0] + u8"/вирус.exe", hostFile = folders[1] + u8"/宿主.exe";
    const std::string astralWormFile = folders[2] + u8"/🦠.exe", astralHostFile = folders[1] + u8"/😀😀.exe";
    const std::string cleanFiles[] = {folders[2] + u8"/чистый.exe", u8"日本語.exe"};
    for (const std::string& folder : folders) Folder(folder);
    Plant(wormFile, worm.bytes);
    Plant(astralWormFile, astralWorm.bytes);
    Plant(hostFile, host.bytes);
    Plant(astralHostFile, astralHost.bytes);
    for (const std::string& file : cleanFiles) Plant(file, clean.bytes);
    Scan();

    ExpectRows({{Path(wormFile), Infected(worm)}, {Path(wormFile), DeletedText},
                {Path(astralWormFile), Infected(astralWorm)}, {Path(astralWormFile), DeletedText},
                {Path(hostFile), Infected(host)}, {Path(hostFile), DisinfectedText},
                {Path(astralHostFile), Infected(astralHost)}, {Path(astralHostFile), DisinfectedText}});
    ExpectCounts({4, 6, 4, 2, 2, 0});
    EXPECT_TRUE(recorder::notes.empty());
    EXPECT_FALSE(Present(wormFile));
    EXPECT_FALSE(Present(astralWormFile));
    EXPECT_EQ(Content(hostFile), host.clean);
    EXPECT_EQ(Content(astralHostFile), astralHost.clean);
    for (const std::string& file : cleanFiles) EXPECT_EQ(Content(file), clean.bytes) << file;
    // Each folder shown as it is entered and as its listing ends.
    for (const std::string& folder : folders) EXPECT_EQ(Shown(Path(folder) + "\\"), 2) << folder;
}

TEST_F(WindowsNamesTest, PathsPastMaxPathAndPastAThousandCharactersAreTreated) {
    const std::string shallow = std::string(120, 'n') + "/" + std::string(120, 'm');
    Folder(shallow.substr(0, 120));
    Folder(shallow);
    std::string deep = u8"далеко";
    Folder(deep);
    for (char part = 'a'; part < 'i'; ++part) {
        deep += "/" + std::string(120, part);
        Folder(deep);
    }
    const std::string hostFile = shallow + "/host.exe", wormFile = deep + "/w.exe";
    const synth::Sample host = MakeElkernAB('A', 1, 511), worm = MakeWormCopy(3, 512);
    Plant(hostFile, host.bytes);
    Plant(wormFile, worm.bytes);
    ASSERT_GT(Path(hostFile).size(), size_t{MAX_PATH});
    ASSERT_LT(Path(hostFile).size(), 330u);
    ASSERT_GT(Path(wormFile).size(), 1000u);
    Scan();

    ExpectRows({{Path(hostFile), Infected(host)}, {Path(hostFile), DisinfectedText},
                {Path(wormFile), Infected(worm)}, {Path(wormFile), DeletedText}});
    EXPECT_TRUE(recorder::notes.empty()) << "no path too long, nothing unlisted";
    ExpectCounts({1 + 2 + 9, 2, 2, 1, 1, 0});
    EXPECT_EQ(Content(hostFile), host.clean);
    EXPECT_FALSE(Present(wormFile));

    // A path given as text, one unit short of MAX_PATH and at it: the first
    // goes to the system as it is, the second in the verbatim form.
    recorder::Reset();
    Folder("edge");
    const size_t room = MAX_PATH - 1 - Path("edge").size() - 1;
    const std::string below = "edge/" + std::string(room - 4, 'b') + ".exe";
    const std::string at = "edge/" + std::string(room - 3, 'c') + ".exe";
    ASSERT_EQ(Path(at).size(), size_t{MAX_PATH});
    const synth::Sample belowWorm = MakeWormCopy(4, 513), atWorm = MakeWormCopy(5, 514);
    Plant(below, belowWorm.bytes);
    Plant(at, atWorm.bytes);
    Handle(below);
    Handle(at);
    ExpectRows({{Path(below), Infected(belowWorm)}, {Path(below), DeletedText},
                {Path(at), Infected(atWorm)}, {Path(at), DeletedText}});
    EXPECT_FALSE(Present(below));
    EXPECT_FALSE(Present(at));
}

TEST_F(WindowsNamesTest, FullwidthNameIsItsOwnFileNotTheCleanOneItResembles) {
    const synth::Sample worm = MakeWormCopy(6, 521), clean = MakeCleanSample(522);
    const std::string lookAlike = u8"ｗｏｒｍ.exe";
    Plant("worm.exe", clean.bytes);
    Plant(lookAlike, worm.bytes);
    Scan();

    ExpectRows({{Path(lookAlike), Infected(worm)}, {Path(lookAlike), DeletedText}});
    ExpectCounts({1, 2, 1, 1, 0, 0});
    EXPECT_EQ(recorder::filesExamined, 2) << "each examined once";
    EXPECT_FALSE(Present(lookAlike));
    EXPECT_EQ(Content("worm.exe"), clean.bytes);
}

TEST_F(WindowsNamesTest, FullwidthSeparatorsNeverLeadOutsideTheWalkedFolder) {
    const synth::Sample victim = MakeWormCopy(0, 531), planted = MakeWormCopy(1, 532);
    for (const char* folder : {"Outside", "scan", "scan/inner"}) Folder(folder);
    Plant("Outside/victim.exe", victim.bytes);
    const std::string trick = u8"scan/inner/．．＼．．＼Outside＼victim.exe";
    Plant(trick, planted.bytes);
    Scan("scan");

    ExpectRows({{Path(trick), Infected(planted)}, {Path(trick), DeletedText}});
    ExpectCounts({2, 1, 1, 1, 0, 0});
    EXPECT_FALSE(Present(trick));
    EXPECT_EQ(Content("Outside/victim.exe"), victim.bytes) << "the file outside is never reached";
}

TEST_F(WindowsNamesTest, FoldersNamedWithDotsAreWalkedAsThemselves) {
    // Read again by the system, "．．" would be the parent and "..." the
    // folder itself: a worm waits in the one, a clean file in the other.
    const synth::Sample decoy = MakeWormCopy(2, 541), clean = MakeCleanSample(542);
    const synth::Sample inDots = MakeWormCopy(3, 543), inTriple = MakeWormCopy(4, 544);
    const std::string dots = u8"scan/．．/w.exe";
    for (const char* folder : {"scan", u8"scan/．．", "scan/..."}) Folder(folder);
    Plant("w.exe", decoy.bytes);
    Plant("scan/w.exe", clean.bytes);
    Plant(dots, inDots.bytes);
    Plant("scan/.../w.exe", inTriple.bytes);
    Scan("scan");

    ExpectRows({{Path(dots), Infected(inDots)}, {Path(dots), DeletedText},
                {Path("scan/.../w.exe"), Infected(inTriple)}, {Path("scan/.../w.exe"), DeletedText}});
    ExpectCounts({3, 3, 2, 2, 0, 0});
    EXPECT_EQ(Shown(Path(u8"scan/．．") + "\\"), 2);
    EXPECT_FALSE(Present(dots));
    EXPECT_FALSE(Present("scan/.../w.exe"));
    EXPECT_EQ(Content("scan/w.exe"), clean.bytes);
    EXPECT_EQ(Content("w.exe"), decoy.bytes);
}

TEST_F(WindowsNamesTest, TrailingDotsAndSpacesNameTheirOwnFilesAndOtherNamesAreNeverJoined) {
    const synth::Sample clean = MakeCleanSample(551), dotted = MakeWormCopy(5, 552), spaced = MakeWormCopy(6, 553);
    const synth::Sample colon = MakeWormCopy(0, 554), inColonFolder = MakeWormCopy(1, 555);
    Plant("worm.exe", clean.bytes);
    Plant("worm.exe.", dotted.bytes);
    Plant("worm.exe ", spaced.bytes);
    // Wine keeps a colon in a name (NTFS would make a stream of "a" of it);
    // joined, "a:b.exe" would name that stream. Its short name has the
    // colon too, so nothing reaches it, nor the folder "x:y".
    Plant("a", clean.bytes);
    Plant("a:b.exe", colon.bytes);
    Folder("x:y");
    Plant("x:y/w.exe", inColonFolder.bytes);
    Scan();

    ExpectRows({{Path("worm.exe."), Infected(dotted)}, {Path("worm.exe."), DeletedText},
                {Path("worm.exe "), Infected(spaced)}, {Path("worm.exe "), DeletedText},
                {Path("a:b.exe"), UnableToOpenText}});
    std::vector<std::string> notes = recorder::notes;
    std::sort(notes.begin(), notes.end());
    EXPECT_EQ(notes, (std::vector<std::string>{"unlisted " + Path("x:y") + "\\", "unopened " + Path("a:b.exe")}));
    ExpectCounts({1, 5, 2, 2, 0, 0});
    EXPECT_EQ(Content("worm.exe"), clean.bytes);
    EXPECT_FALSE(Present("worm.exe."));
    EXPECT_FALSE(Present("worm.exe "));
    EXPECT_EQ(Content("a"), clean.bytes);
    EXPECT_EQ(Content("a:b.exe"), colon.bytes);
    EXPECT_EQ(Content("x:y/w.exe"), inColonFolder.bytes);
}

TEST_F(WindowsNamesTest, FileInUseInACyrillicFolderIsCuredThroughACopyBesideIt) {
    const PendingKept kept;
    const synth::Sample host = MakeElkernAB('A', 6, 561);
    const std::string relative = u8"Папка/файл.exe";
    Folder(u8"Папка");
    Plant(relative, host.bytes);
    const std::string file = Path(relative), copy = file + ".zq-000";
    const std::string reach = "\\\\?\\" + file;  // as the walk reaches it
    HANDLE held = Hold(relative);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    HandledEntry entry = EntryForPath(file.c_str());
    entry.name = reach.c_str();
    HandleFile(&entry);
    CloseHandle(held);

    EXPECT_EQ(recorder::rows, CuredThroughCopy(file, host)) << recorder::Dump();
    EXPECT_EQ(ScanStatistics.files, 2);
    EXPECT_EQ(ScanStatistics.disinfectedAtRestart, 1);
    EXPECT_EQ(ScanStatistics.failed, 0);
    EXPECT_EQ(Content(relative), host.bytes);
    EXPECT_EQ(Content(relative + ".zq-000"), host.clean);
    const std::vector<std::string> changes = {"saved " + file + " " + std::to_string(host.bytes.size()),
                                              "done " + file + " disinfected-at-restart " + reach + ".zq-000"};
    EXPECT_EQ(recorder::changes, changes);
    // The file goes first, then the cured copy takes its place.
    const std::vector<std::string> requests = {"\\??\\" + file, "", "\\??\\" + copy, "\\??\\" + file};
    EXPECT_EQ(PendingRequests(), requests);
}

TEST_F(WindowsNamesTest, OnThe9xFamilyWininitNamesBothFilesByTheirShortPaths) {
    seamPlatformFamily = FamilyWin9x;
    const synth::Sample host = MakeElkernAB('B', 2, 571);
    const std::string relative = "Long Folder Name/Second Long Folder/held host file.exe";
    Folder("Long Folder Name");
    Folder("Long Folder Name/Second Long Folder");
    Plant(relative, host.bytes);
    const std::string file = Path(relative), copy = file + ".zq-000";
    HANDLE held = Hold(relative);
    ASSERT_NE(held, INVALID_HANDLE_VALUE);
    Handle(relative);
    CloseHandle(held);

    EXPECT_EQ(recorder::rows, CuredThroughCopy(file, host)) << recorder::Dump();
    EXPECT_EQ(Content(relative + ".zq-000"), host.clean);
    char shortFile[MAX_PATH] = {};
    char shortCopy[MAX_PATH] = {};
    ASSERT_GT(GetShortPathNameA(file.c_str(), shortFile, MAX_PATH), 0u);
    ASSERT_GT(GetShortPathNameA(copy.c_str(), shortCopy, MAX_PATH), 0u);
    std::vector<char> section(32767);
    const DWORD length = GetPrivateProfileSectionA("rename", section.data(), 32767, "wininit.ini");
    WritePrivateProfileStringA("rename", shortFile, nullptr, "wininit.ini");
    std::vector<std::string> values;
    for (size_t start = 0; start < length; start += std::strlen(&section[start]) + 1) {
        const std::string line = &section[start];
        if (line.compare(0, line.find('='), shortFile) == 0) values.push_back(line.substr(line.find('=') + 1));
    }
    EXPECT_EQ(values, std::vector<std::string>{shortCopy}) << "one entry, keyed by the file's short path";
    EXPECT_TRUE(IsShortPath(shortFile)) << shortFile;
    EXPECT_TRUE(IsShortPath(shortCopy)) << shortCopy;
    EXPECT_FALSE(IsShortPath(file) || IsShortPath(copy)) << "the long paths are no short paths";
    EXPECT_EQ(DeferredDelete(file.c_str()), 0) << "the 95/98/Me family deletes nothing at restart";
    EXPECT_EQ(Content(relative), host.bytes);
}

TEST_F(WindowsNamesTest, OnThe9xFamilyANameTheCodePageCannotSpellIsReachedByItsShortName) {
    seamPlatformFamily = FamilyWin9x;
    const synth::Sample worm = MakeWormCopy(2, 581);
    Folder(u8"😀 folder");
    Plant(u8"😀 folder/🦠.exe", worm.bytes);
    Scan();

    // The row spells the name as the code page's listing gives it.
    ASSERT_EQ(recorder::rows.size(), 2u) << recorder::Dump();
    EXPECT_EQ(recorder::rows[0].status, Infected(worm));
    EXPECT_EQ(recorder::rows[1], (Row{recorder::rows[0].object, DeletedText}));
    EXPECT_EQ(recorder::rows[0].object.rfind(Path() + "\\", 0), 0u) << recorder::rows[0].object;
    ExpectCounts({2, 1, 1, 1, 0, 0});
    EXPECT_FALSE(Present(u8"😀 folder/🦠.exe"));
}

TEST_F(WindowsNamesTest, OnThe9xFamilyANameThatDoesNotLeadBackIsReachedByItsShortName) {
    // The code page's listing spells "ｗｏｒｍ.exe" as "worm.exe", and its
    // functions read "worm.exe." and "worm.exe " as "worm.exe" and "．．" as
    // "..": joined, each of these names would lead to another file.
    seamPlatformFamily = FamilyWin9x;
    const synth::Sample clean = MakeCleanSample(561), decoy = MakeWormCopy(0, 562);
    const std::vector<std::string> worms = {u8"scan/ｗｏｒｍ.exe", "scan/worm.exe.", "scan/worm.exe ",
                                            "scan/.../w.exe", u8"scan/．．/w.exe"};
    for (const char* folder : {"scan", "scan/...", u8"scan/．．"}) Folder(folder);
    Plant("w.exe", decoy.bytes);
    Plant("scan/worm.exe", clean.bytes);
    for (size_t i = 0; i < worms.size(); ++i) Plant(worms[i], MakeWormCopy(static_cast<int>(i + 1), 563).bytes);
    Scan("scan");

    ExpectCounts({3, 6, 5, 5, 0, 0});
    EXPECT_EQ(recorder::filesExamined, 6) << "each examined once";
    const auto deleted = std::count_if(recorder::rows.begin(), recorder::rows.end(), [&](const Row& row) {
        return row.status == DeletedText && row.object.rfind(Path("scan") + "\\", 0) == 0;
    });
    EXPECT_EQ(deleted, 5) << recorder::Dump();
    for (const std::string& worm : worms) EXPECT_FALSE(Present(worm)) << worm;
    EXPECT_EQ(Content("scan/worm.exe"), clean.bytes);
    EXPECT_EQ(Content("w.exe"), decoy.bytes) << "the parent is never reached";
}

}  // namespace
#endif
