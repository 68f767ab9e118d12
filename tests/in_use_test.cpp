// Files that cannot be opened for writing are treated through a copy and
// restart-time operations. On Windows another handle without write sharing
// holds the file; natively the file is made immutable (root cannot write it
// either), where the file system allows it.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <memory>
#include <cctype>
#include <string>
#include <vector>

#ifdef _WIN32
#include <windows.h>
#else
#include <fcntl.h>
#include <linux/fs.h>
#include <sys/ioctl.h>
#include <unistd.h>
#endif

#include "adapters/seams.h"
#ifdef _WIN32
#include "adapters/pending_operations_win32.h"
#endif
#include "scan/deferred.h"

#include "scan/texts.h"
#include "tests/scan_fixture.h"
#include "tests/support/synth.h"
#include "tests/write_log.h"

namespace {

using recorder::Row;

std::string Infected(const std::string& threat) { return std::string(InfectedPrefix) + threat; }

// Keeps a file from being opened for writing while it lives.
class WriteBlock {
public:
    explicit WriteBlock(const std::string& path) : path_(path) {
#ifdef _WIN32
        handle_ = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        ok_ = handle_ != INVALID_HANDLE_VALUE;
#else
        ok_ = SetImmutable(true);
#endif
    }
    ~WriteBlock() {
#ifdef _WIN32
        if (ok_) CloseHandle(handle_);
#else
        if (ok_) SetImmutable(false);
#endif
    }
    WriteBlock(const WriteBlock&) = delete;
    WriteBlock& operator=(const WriteBlock&) = delete;
    bool Ok() const { return ok_; }

private:
#ifndef _WIN32
    bool SetImmutable(bool on) {
        const int fd = open(path_.c_str(), O_RDONLY | O_NONBLOCK);
        if (fd < 0) return false;
        int flags = 0;
        bool done = ioctl(fd, FS_IOC_GETFLAGS, &flags) == 0;
        if (done) {
            flags = on ? (flags | FS_IMMUTABLE_FL) : (flags & ~FS_IMMUTABLE_FL);
            done = ioctl(fd, FS_IOC_SETFLAGS, &flags) == 0;
        }
        close(fd);
        return done;
    }
#else
    HANDLE handle_ = INVALID_HANDLE_VALUE;
#endif
    std::string path_;
    bool ok_ = false;
};

#ifdef _WIN32
// The restart-time moves that the system has recorded, as (source, target)
// pairs; an empty target is a deletion. Restored to its earlier state by the
// fixture, so that a later start of the prefix does not act on test files.
const char* const SessionManager = "SYSTEM\\CurrentControlSet\\Control\\Session Manager";
const char* const PendingValue = "PendingFileRenameOperations";

bool ReadPending(std::vector<char>* data) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_QUERY_VALUE, &key) != ERROR_SUCCESS) return false;
    DWORD size = 0;
    DWORD type = 0;
    bool found = RegQueryValueExA(key, PendingValue, nullptr, &type, nullptr, &size) == ERROR_SUCCESS;
    if (found) {
        data->assign(size, '\0');
        found = RegQueryValueExA(key, PendingValue, nullptr, &type, reinterpret_cast<BYTE*>(data->data()), &size) ==
                ERROR_SUCCESS;
        data->resize(size);
    }
    RegCloseKey(key);
    return found;
}

void WritePending(const std::vector<char>* data) {
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    if (data == nullptr) {
        RegDeleteValueA(key, PendingValue);
    } else {
        RegSetValueExA(key, PendingValue, 0, REG_MULTI_SZ, reinterpret_cast<const BYTE*>(data->data()),
                       static_cast<DWORD>(data->size()));
    }
    RegCloseKey(key);
}

std::vector<std::pair<std::string, std::string>> PendingPairs() {
    std::vector<char> data;
    std::vector<std::string> strings;
    if (ReadPending(&data)) {
        std::string current;
        for (char c : data) {
            if (c != '\0') {
                current += c;
            } else {
                strings.push_back(current);
                current.clear();
            }
        }
    }
    // The list ends with an empty string (the double terminator).
    while (strings.size() % 2 != 0 && !strings.empty() && strings.back().empty()) strings.pop_back();
    std::vector<std::pair<std::string, std::string>> pairs;
    for (size_t i = 0; i + 1 < strings.size(); i += 2) pairs.emplace_back(strings[i], strings[i + 1]);
    return pairs;
}

bool EndsWithPath(const std::string& recorded, const std::string& path) {
    if (recorded.size() < path.size()) return false;
    return std::equal(path.rbegin(), path.rend(), recorded.rbegin(),
                      [](char a, char b) { return std::tolower(static_cast<unsigned char>(a)) ==
                                                  std::tolower(static_cast<unsigned char>(b)); });
}
#endif

// Restart-time requests accepted by a test that pretends the platform has
// them, as (from, to) pairs; to is empty for a deletion.
std::vector<std::pair<std::string, std::string>> pretendRequests;

#ifndef _WIN32
bool RecordRequest(const char* from, const char* to) {
    pretendRequests.emplace_back(from, to != nullptr ? to : "");
    return true;
}
#endif

class InUseTest : public ScanFolderTest {
protected:
    void SetUp() override {
        ScanFolderTest::SetUp();
        pretendRequests.clear();
#ifdef _WIN32
        // Each test starts with no restart-time operations; the earlier ones
        // are put back afterwards.
        hadPending_ = ReadPending(&pending_);
        WritePending(nullptr);
#endif
    }

    // A clean slate for the next case of a scenario: nothing recorded,
    // requested or copied yet.
    void NextCase(const std::string& copy) const {
        recorder::Reset();
        ResetScanStatistics();
        pretendRequests.clear();
#ifdef _WIN32
        WritePending(nullptr);
#endif
        std::filesystem::remove(copy);
    }

    // Windows has restart-time operations; elsewhere the copy path is only
    // reached when a test pretends there are some.
    static void PretendRestartOperations() {
#ifndef _WIN32
        seamRestartRequest = RecordRequest;
#endif
    }
    void TearDown() override {
#ifdef _WIN32
        seamRequestAccepted = nullptr;
        WritePending(hadPending_ ? &pending_ : nullptr);
#endif
        ScanFolderTest::TearDown();
    }

#ifdef _WIN32
    std::vector<char> pending_;
    bool hadPending_ = false;
#endif
};

#define BLOCK_WRITES(block, relative)                                        \
    WriteBlock block(Path(relative));                                        \
    if (!block.Ok()) GTEST_SKIP() << "cannot keep the file from being written here"

TEST_F(InUseTest, ElkernHostInUseIsCuredThroughACopy) {
    const synth::Sample host = synth::MakeElkernAB('A', 2, 41);
    Write("x.exe", host.bytes);
    const std::string file = Path("x.exe");
    const std::string copy = file + ".zq-000";
    {
        BLOCK_WRITES(block, "x.exe");
        Handle("x.exe");
    }
#ifndef _WIN32
    // Without restart-time operations no copy is made: a cure of a copy
    // could never reach the file. The failure is said at once.
    const std::vector<Row> expected = {{file, Infected("Win32.Elkern.A")}, {file, UnableToDisinfectText}};
    EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
    EXPECT_EQ(ScanStatistics.files, 1);
    EXPECT_EQ(ScanStatistics.infected, 1);
    EXPECT_EQ(ScanStatistics.failed, 1);
    EXPECT_EQ(ScanStatistics.disinfected + ScanStatistics.disinfectedAtRestart, 0);
    EXPECT_FALSE(Exists("x.exe.zq-000"));
    EXPECT_EQ(Read("x.exe"), host.bytes);
    const std::vector<std::string> unchanged = {"saved " + file + " " + std::to_string(host.bytes.size()),
                                                "done " + file + " failed"};
    EXPECT_EQ(recorder::changes, unchanged);
    return;
#endif
    ASSERT_GE(recorder::rows.size(), 5u) << recorder::Dump();
    const std::vector<Row> first = {
        {file, Infected("Win32.Elkern.A")},
        {file, CopyMadeText},
        {copy, Infected("Win32.Elkern.A")},
        {copy, DisinfectedText},
    };
    EXPECT_EQ(std::vector<Row>(recorder::rows.begin(), recorder::rows.begin() + 4), first) << recorder::Dump();
    EXPECT_EQ(ScanStatistics.files, 2);
    EXPECT_EQ(ScanStatistics.infected, 2);
    EXPECT_EQ(ScanStatistics.disinfected, 1);
    EXPECT_EQ(Read("x.exe"), host.bytes) << "the file in use is left as it is";
#ifdef _WIN32
    ASSERT_EQ(recorder::rows.size(), 5u);
    EXPECT_EQ(recorder::rows[4], (Row{file, DisinfectedAtRestartText}));
    EXPECT_EQ(ScanStatistics.disinfectedAtRestart, 1);
    EXPECT_EQ(Read("x.exe.zq-000"), host.clean);
    // Delete the file first, then move the cleaned copy into its place.
    const auto pairs = PendingPairs();
    ASSERT_GE(pairs.size(), 2u);
    const auto& del = pairs[pairs.size() - 2];
    const auto& move = pairs[pairs.size() - 1];
    EXPECT_TRUE(EndsWithPath(del.first, file)) << del.first;
    EXPECT_TRUE(del.second.empty()) << del.second;
    EXPECT_TRUE(EndsWithPath(move.first, copy)) << move.first;
    EXPECT_TRUE(EndsWithPath(move.second, file)) << move.second;
    // The file is saved once, from its examination; the copy is the scan's
    // own. What takes its place is the cured copy.
    const std::vector<std::string> changes = {"saved " + file + " " + std::to_string(host.bytes.size()),
                                              "done " + file + " disinfected-at-restart " + copy};
    EXPECT_EQ(recorder::changes, changes);
#endif
}

TEST_F(InUseTest, WormCopyInUseIsDeletedAtRestart) {
    Write("w.exe", synth::MakeWormCopy(2, 42).bytes);
    const std::string file = Path("w.exe");
    const std::string copy = file + ".zq-000";
    PretendRestartOperations();
    {
        BLOCK_WRITES(block, "w.exe");
        Handle("w.exe");
    }
    ASSERT_EQ(recorder::rows.size(), 5u) << recorder::Dump();
    EXPECT_EQ(recorder::rows[0], (Row{file, Infected("Win32.Klez.C@mm")}));
    EXPECT_EQ(recorder::rows[1], (Row{file, CopyMadeText}));
    EXPECT_EQ(recorder::rows[2], (Row{copy, Infected("Win32.Klez.C@mm")}));
    EXPECT_EQ(recorder::rows[3], (Row{copy, DeletedText}));
    EXPECT_FALSE(Exists("w.exe.zq-000"));
    EXPECT_EQ(ScanStatistics.files, 2);
    EXPECT_EQ(ScanStatistics.infected, 2);
    EXPECT_EQ(ScanStatistics.deleted, 1);
#ifdef _WIN32
    EXPECT_EQ(recorder::rows[4], (Row{file, DeletedAtRestartText}));
    EXPECT_EQ(ScanStatistics.deletedAtRestart, 1);
    const auto pairs = PendingPairs();
    ASSERT_FALSE(pairs.empty());
    EXPECT_TRUE(EndsWithPath(pairs.back().first, file)) << pairs.back().first;
    EXPECT_TRUE(pairs.back().second.empty());
#else
    EXPECT_EQ(recorder::rows[4], (Row{file, DeletedAtRestartText}));
    EXPECT_EQ(ScanStatistics.deletedAtRestart, 1);
    ASSERT_EQ(pretendRequests.size(), 1u);
    EXPECT_EQ(pretendRequests[0], std::make_pair(file, std::string()));
#endif
}

// The restart-time requests that name target as their target (a deletion
// of it or a move onto it), wherever they were recorded.
size_t RequestsOn(const std::string& target) {
    size_t count = 0;
#ifdef _WIN32
    for (const auto& pair : PendingPairs()) {
        if (pair.second.empty() ? EndsWithPath(pair.first, target) : EndsWithPath(pair.second, target)) ++count;
    }
#else
    for (const auto& request : pretendRequests) {
        if ((request.second.empty() ? request.first : request.second) == target) ++count;
    }
#endif
    return count;
}

TEST_F(InUseTest, CuredCopyIsKeptWhenItsReplacementCannotBeFullyScheduled) {
    const synth::Sample host = synth::MakeElkernAB('B', 4, 81);
    const std::string file = Path("x.exe");
    const std::string copy = file + ".zq-000";
    PretendRestartOperations();
    // NT: the deletion of the file is asked for first, so a failure of the
    // second request leaves a file that goes at restart; 1 is the first
    // request failing, and then the 95/98/Me family's wininit.ini entry.
    struct Case {
        PlatformFamily family;
        uint32_t failingRequest;
        size_t requestsLeft;
    };
    for (const Case& c : {Case{FamilyNt, 2, 1}, Case{FamilyNt, 1, 0}, Case{FamilyWin9x, 1, 0}}) {
        SCOPED_TRACE("family " + std::to_string(c.family) + ", request " + std::to_string(c.failingRequest));
        NextCase(copy);
        Write("x.exe", host.bytes);
        seamPlatformFamily = c.family;
        seamRequestCount = 0;
        seamFailRequest = c.failingRequest;
        {
            BLOCK_WRITES(block, "x.exe");
            Handle("x.exe");
        }
        const std::vector<Row> expected = {
            {file, Infected("Win32.Elkern.B")}, {file, CopyMadeText}, {copy, Infected("Win32.Elkern.B")},
            {copy, DisinfectedText},            {file, UnableToDisinfectText},
        };
        EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
        EXPECT_EQ(ScanStatistics.failed, 1);
        EXPECT_EQ(ScanStatistics.disinfectedAtRestart, 0);
        EXPECT_EQ(Read("x.exe"), host.bytes);
        ASSERT_TRUE(Exists("x.exe.zq-000")) << "the cured copy may be all that is left after a restart";
        EXPECT_EQ(Read("x.exe.zq-000"), host.clean);
        EXPECT_EQ(RequestsOn(file), c.requestsLeft);
    }
}

// Keeps the first copy of a file from being written, so that it is treated
// through a copy of its own.
std::unique_ptr<WriteBlock> copyBlock;

void BlockFirstCopy(const char* path) {
    const std::string name(path);
    if (!copyBlock && name.size() > 7 && name.compare(name.size() - 7, 7, ".zq-000") == 0) {
        copyBlock = std::make_unique<WriteBlock>(name);
    }
}

TEST_F(InUseTest, FailedTreatmentOfACopyIsNeverScheduledInTheFilesPlace) {
    const synth::Sample host = synth::MakeElkernAB('A', 7, 82);
    const std::string file = Path("y.exe");
    const std::string copy = file + ".zq-000";
    const std::string copyOfCopy = copy + ".zq-000";
    Write("y.exe", host.bytes);
    PretendRestartOperations();
    seamPlatformFamily = FamilyNt;
    // The copy of the copy is cured, but putting it in the copy's place
    // fails at its first request; the copy stays infected.
    seamRequestCount = 0;
    seamFailRequest = 1;
    seamBeforeWritableOpen = BlockFirstCopy;
    {
        BLOCK_WRITES(block, "y.exe");
        Handle("y.exe");
        seamBeforeWritableOpen = nullptr;
        const bool blocked = copyBlock && copyBlock->Ok();
        copyBlock.reset();
        if (!blocked) GTEST_SKIP() << "cannot keep the copy from being written here";
    }
    ASSERT_GE(recorder::rows.size(), 8u) << recorder::Dump();
    EXPECT_EQ(recorder::rows[4], (Row{copyOfCopy, Infected("Win32.Elkern.A")})) << recorder::Dump();
    EXPECT_EQ(recorder::rows[5], (Row{copyOfCopy, DisinfectedText}));
    EXPECT_EQ(recorder::rows[6], (Row{copy, UnableToDisinfectText}));
    EXPECT_EQ(recorder::rows.back(), (Row{file, UnableToDisinfectText})) << recorder::Dump();
    EXPECT_EQ(ScanStatistics.disinfectedAtRestart, 0);
    EXPECT_EQ(ScanStatistics.failed, 2);
    EXPECT_EQ(RequestsOn(file), 0u) << "nothing may replace or delete the file at restart";
    EXPECT_EQ(Read("y.exe"), host.bytes);
    EXPECT_EQ(Read("y.exe.zq-000.zq-000"), host.clean) << "a cured copy whose move failed stays";
}

TEST_F(InUseTest, TakenCopyNameMovesOnToTheNextNumber) {
    Write("t.exe", synth::MakeWormCopy(3, 43).bytes);
    PretendRestartOperations();
    const std::vector<uint8_t> placeholder = {'k', 'e', 'e', 'p'};
    Write("t.exe.zq-000", placeholder);
    {
        BLOCK_WRITES(block, "t.exe");
        Handle("t.exe");
    }
    ASSERT_GE(recorder::rows.size(), 3u) << recorder::Dump();
    EXPECT_EQ(recorder::rows[2].object, Path("t.exe") + ".zq-001");
    EXPECT_EQ(Read("t.exe.zq-000"), placeholder) << "an existing name is never overwritten";
}

#ifdef _WIN32
TEST_F(InUseTest, OnThe9xFamilyAScheduledDeletionFails) {
    seamPlatformFamily = FamilyWin9x;
    Write("w.exe", synth::MakeWormCopy(5, 44).bytes);
    {
        BLOCK_WRITES(block, "w.exe");
        Handle("w.exe");
    }
    ASSERT_EQ(recorder::rows.size(), 5u) << recorder::Dump();
    EXPECT_EQ(recorder::rows[4], (Row{Path("w.exe"), UnableToDisinfectText}));
    EXPECT_EQ(ScanStatistics.failed, 1);
    EXPECT_EQ(ScanStatistics.deletedAtRestart, 0);
}

TEST_F(InUseTest, NtRenameSchedulesDeleteThenMove) {
    Write("s.bin", {1, 2, 3});
    Write("t.bin", {4, 5, 6});
    seamPlatformFamily = FamilyNt;
    ASSERT_EQ(DeferredRename(Path("s.bin").c_str(), Path("t.bin").c_str()), 1);
    const auto pairs = PendingPairs();
    ASSERT_GE(pairs.size(), 2u);
    EXPECT_TRUE(EndsWithPath(pairs[pairs.size() - 2].first, Path("t.bin")));
    EXPECT_TRUE(pairs[pairs.size() - 2].second.empty());
    EXPECT_TRUE(EndsWithPath(pairs.back().first, Path("s.bin")));
    EXPECT_TRUE(EndsWithPath(pairs.back().second, Path("t.bin")));
    EXPECT_EQ(Read("t.bin"), (std::vector<uint8_t>{4, 5, 6})) << "nothing happens before the restart";
}

TEST_F(InUseTest, The9xFamilyRenamesThroughWininit) {
    Write("s.bin", {1});
    Write("t.bin", {2});
    seamPlatformFamily = FamilyWin9x;
    const std::string source = Path("s.bin");
    const std::string target = Path("t.bin");
    ASSERT_EQ(DeferredRename(source.c_str(), target.c_str()), 1);
    // WININIT.EXE finds files by their short paths only.
    char shortTarget[MAX_PATH] = {};
    char shortSource[MAX_PATH] = {};
    ASSERT_NE(GetShortPathNameA(target.c_str(), shortTarget, MAX_PATH), 0u);
    ASSERT_NE(GetShortPathNameA(source.c_str(), shortSource, MAX_PATH), 0u);
    char value[600] = {};
    GetPrivateProfileStringA("rename", shortTarget, "", value, sizeof value, "wininit.ini");
    WritePrivateProfileStringA("rename", shortTarget, nullptr, "wininit.ini");
    EXPECT_EQ(std::string(value), shortSource);
    EXPECT_EQ(DeferredDelete(target.c_str()), 0);

    // A file that is gone has no short path: nothing is written for it,
    // and the request fails rather than promising a cure at the restart.
    const std::string gone = Path("gone.bin");
    EXPECT_EQ(DeferredRename(gone.c_str(), target.c_str()), 0);
    GetPrivateProfileStringA("rename", shortTarget, "", value, sizeof value, "wininit.ini");
    EXPECT_EQ(std::string(value), "");
}

// How a system may fail to keep a request it accepted: the requests are
// gone, or what holds them can no longer be read.
void DropPendingValue() { WritePending(nullptr); }
void UnreadablePendingValue() {
    const std::vector<char> text = {'x', '\0'};
    HKEY key;
    if (RegOpenKeyExA(HKEY_LOCAL_MACHINE, SessionManager, 0, KEY_SET_VALUE, &key) != ERROR_SUCCESS) return;
    RegSetValueExA(key, PendingValue, 0, REG_SZ, reinterpret_cast<const BYTE*>(text.data()), 2);
    RegCloseKey(key);
}
std::string droppedWininitTarget;  // short path
void DropWininitRename() { WritePrivateProfileStringA("rename", droppedWininitTarget.c_str(), nullptr, "wininit.ini"); }

uint32_t requestsAccepted;
uint32_t dropAtRequest;
void (*dropRequests)();
void DropAtChosenRequest() {
    if (++requestsAccepted == dropAtRequest) dropRequests();
}

// The rows promise a cure or a deletion at the restart only for a request
// found, once made, where the system reads it as it starts; otherwise the
// file is one the scan could not treat, and a cured copy stays.
TEST_F(InUseTest, ARequestTheSystemDoesNotKeepIsNeverReportedAsDoneAtTheRestart) {
    const synth::Sample host = synth::MakeElkernAB('A', 3, 83);
    const std::vector<uint8_t> worm = synth::MakeWormCopy(2, 84).bytes;
    const std::string file = Path("x.exe");
    const std::string copy = file + ".zq-000";
    struct Case {
        const char* what;
        PlatformFamily family;
        bool isWorm;
        uint32_t dropAt;  // 0: nothing is dropped
        void (*drop)();
    };
    const Case cases[] = {
        {"NT, kept", FamilyNt, false, 0, DropPendingValue},
        {"NT, the file's deletion lost", FamilyNt, false, 1, DropPendingValue},
        {"NT, the copy's move lost", FamilyNt, false, 2, DropPendingValue},
        {"NT, the requests unreadable", FamilyNt, false, 2, UnreadablePendingValue},
        {"NT, a worm's deletion kept", FamilyNt, true, 0, DropPendingValue},
        {"NT, a worm's deletion lost", FamilyNt, true, 1, DropPendingValue},
        {"9x, the wininit.ini entry lost", FamilyWin9x, false, 1, DropWininitRename},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        NextCase(copy);
        Write("x.exe", c.isWorm ? worm : host.bytes);
        char shortTarget[MAX_PATH] = {};
        ASSERT_NE(GetShortPathNameA(file.c_str(), shortTarget, MAX_PATH), 0u);
        droppedWininitTarget = shortTarget;
        seamPlatformFamily = c.family;
        requestsAccepted = 0;
        dropAtRequest = c.dropAt;
        dropRequests = c.drop;
        seamRequestAccepted = DropAtChosenRequest;
        {
            BLOCK_WRITES(block, "x.exe");
            Handle("x.exe");
        }
        seamRequestAccepted = nullptr;
        const bool kept = c.dropAt == 0;
        const char* const threat = c.isWorm ? "Win32.Klez.C@mm" : "Win32.Elkern.A";
        const std::vector<Row> expected = {
            {file, Infected(threat)},
            {file, CopyMadeText},
            {copy, Infected(threat)},
            {copy, c.isWorm ? DeletedText : DisinfectedText},
            {file, !kept ? UnableToDisinfectText : c.isWorm ? DeletedAtRestartText : DisinfectedAtRestartText},
        };
        EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
        EXPECT_EQ(requestsAccepted, c.isWorm ? 1u : c.family == FamilyNt && (kept || c.dropAt == 2) ? 2u : 1u)
            << "a request that is not held asks for nothing more";
        EXPECT_EQ(ScanStatistics.failed, kept ? 0 : 1);
        EXPECT_EQ(ScanStatistics.disinfectedAtRestart, kept && !c.isWorm ? 1 : 0);
        EXPECT_EQ(ScanStatistics.deletedAtRestart, kept && c.isWorm ? 1 : 0);
        EXPECT_EQ(Read("x.exe"), c.isWorm ? worm : host.bytes) << "nothing happens before the restart";
        EXPECT_EQ(RequestsOn(file), !kept ? 0u : c.isWorm ? 1u : 2u) << "a deletion, then a move";
        if (!c.isWorm) {
            // Part of a lost cure may still be carried out at the restart
            // (the file's deletion, when only the move was lost): the cured
            // copy stays in any case.
            ASSERT_TRUE(Exists("x.exe.zq-000"));
            EXPECT_EQ(Read("x.exe.zq-000"), host.clean);
        }
        char entry[MAX_PATH] = {};
        GetPrivateProfileStringA("rename", shortTarget, "", entry, sizeof entry, "wininit.ini");
        EXPECT_STREQ(entry, "") << "nothing is left behind in wininit.ini";
    }
}
#else
TEST_F(InUseTest, CopiesOfFilesPastTheOldPathBufferAreMadeAndCured) {
    // Paths of 513 and 600 characters: the first no longer fitted the
    // 520-byte buffer with ".zq-000", the second not even alone. The path
    // buffer now holds the longest path a system gives.
    std::string relative;
    while (Path(relative).size() < 480) {
        relative += (relative.empty() ? "" : "/") + std::string(50, 'd');
        MakeFolder(relative);
    }
    const size_t folderLength = Path(relative).size() + 1;
    const std::string atOldLimit = relative + "/" + std::string(513 - folderLength, 'f');
    const std::string pastIt = relative + "/" + std::string(600 - folderLength, 'g');
    ASSERT_EQ(Path(atOldLimit).size(), 513u);
    PretendRestartOperations();
    Write(atOldLimit, synth::MakeWormCopy(0, 45).bytes);
    Write(pastIt, synth::MakeWormCopy(0, 46).bytes);
    {
        BLOCK_WRITES(block, atOldLimit);
        BLOCK_WRITES(other, pastIt);
        Handle(atOldLimit);
        Handle(pastIt);
    }
    auto has = [](const std::string& object, const char* status) {
        return std::count(recorder::rows.begin(), recorder::rows.end(), Row{object, status}) == 1;
    };
    for (const std::string& file : {atOldLimit, pastIt}) {
        EXPECT_TRUE(has(Path(file), CopyMadeText)) << recorder::Dump();
        EXPECT_TRUE(has(Path(file) + ".zq-000", DeletedText)) << recorder::Dump();
        EXPECT_TRUE(has(Path(file), DeletedAtRestartText)) << recorder::Dump();
        EXPECT_EQ(RequestsOn(Path(file)), 1u);
    }
    EXPECT_EQ(ScanStatistics.failed, 0);
    EXPECT_EQ(ScanStatistics.deletedAtRestart, 2);
}

TEST_F(InUseTest, RenameNeverReplacesAnExistingTargetWithoutRestartOperations) {
    Write("s.bin", {1});
    Write("t.bin", {2});
    EXPECT_EQ(DeferredRename(Path("s.bin").c_str(), Path("t.bin").c_str()), 0);
    EXPECT_EQ(Read("t.bin"), (std::vector<uint8_t>{2}));
    EXPECT_EQ(Read("s.bin"), (std::vector<uint8_t>{1}));
    EXPECT_EQ(DeferredDelete(Path("t.bin").c_str()), 0);
    EXPECT_TRUE(Exists("t.bin"));
}

TEST_F(InUseTest, EveryCopyNameTakenIsAFailure) {
    Write("f.exe", synth::MakeWormCopy(1, 47).bytes);
    PretendRestartOperations();
    char name[16];
    for (unsigned n = 0; n < 0x1000; ++n) {
        std::snprintf(name, sizeof name, ".zq-%03X", n);
        Write(std::string("f.exe") + name, {});
    }
    {
        BLOCK_WRITES(block, "f.exe");
        Handle("f.exe");
    }
    const std::vector<Row> expected = {{Path("f.exe"), Infected("Win32.Klez.B@mm")},
                                       {Path("f.exe"), UnableToDisinfectText}};
    EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
    EXPECT_EQ(ScanStatistics.failed, 1);
}
#endif

TEST_F(InUseTest, RenameSucceedsAtOnceWhenTheTargetIsGone) {
    Write("s.bin", {7, 7});
    ASSERT_EQ(DeferredRename(Path("s.bin").c_str(), Path("gone.bin").c_str()), 1);
    EXPECT_FALSE(Exists("s.bin"));
    EXPECT_EQ(Read("gone.bin"), (std::vector<uint8_t>{7, 7}));
}

}  // namespace

namespace {

// Events before the first restart-time request: the last of them must be a
// flush that follows the copy's making and every write to it.
bool CopyFlushedBeforeRequest() {
    bool copyMade = false, flushedSince = false;
    for (const writelog::Event& event : writelog::events) {
        if (event.requestsBefore != 0) return flushedSince;
        if (event.kind == writelog::Event::Mark) copyMade = true;
        flushedSince = copyMade && event.kind == writelog::Event::Flush;
    }
    return flushedSince;
}

TEST_F(InUseTest, CuredCopyIsOnTheDiskBeforeItsReplacementIsAskedFor) {
    const synth::Sample host = synth::MakeElkernC(true, 921);
    const std::string file = Path("x.exe");
    const std::string copy = file + ".zq-000";
    // 0: every flush succeeds; 2: the copy's wipe is not flushed; 3: the
    // cured copy is not.
    for (uint32_t failing : {0u, 2u, 3u}) {
        SCOPED_TRACE(failing);
        NextCase(copy);
        Write("x.exe", host.bytes);
        PretendRestartOperations();
        recorder::onRow = [](const Row& row) {
            if (row.status == CopyMadeText) writelog::Mark();
        };
        writelog::Start();
        seamFailFlush = failing;
        {
            BLOCK_WRITES(block, "x.exe");
            Handle("x.exe");
        }
        const std::vector<std::string> saved = {"saved " + file + " " + std::to_string(host.bytes.size())};
        EXPECT_EQ(Read("x.exe"), host.bytes) << "the file in use is left as it is";
        ASSERT_GE(recorder::rows.size(), 5u) << recorder::Dump();
        EXPECT_EQ(recorder::rows[1], (Row{file, CopyMadeText}));
        if (failing == 0) {
            EXPECT_EQ(recorder::rows.back(), (Row{file, DisinfectedAtRestartText}));
            EXPECT_EQ(Read("x.exe.zq-000"), host.clean);
            EXPECT_EQ(RequestsOn(file), 2u);
            EXPECT_TRUE(CopyFlushedBeforeRequest());
            // The copy is the scan's own: only the file is saved.
            const std::vector<std::string> changes = {saved[0], "done " + file + " disinfected-at-restart " + copy};
            EXPECT_EQ(recorder::changes, changes);
        } else {
            EXPECT_EQ(recorder::rows.back(), (Row{file, UnableToDisinfectText}));
            EXPECT_FALSE(Exists("x.exe.zq-000")) << "a copy not on the disk goes";
            EXPECT_EQ(RequestsOn(file), 0u);
            EXPECT_EQ(ScanStatistics.disinfectedAtRestart, 0);
            const std::vector<std::string> changes = {saved[0], "done " + file + " failed"};
            EXPECT_EQ(recorder::changes, changes);
        }
        ResetSeams();
    }
}

}  // namespace
