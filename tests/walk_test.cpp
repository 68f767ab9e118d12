#include <gtest/gtest.h>

#include <algorithm>
#include <string>
#ifndef _WIN32
#include <sys/stat.h>
#endif

#include "scan/walk.h"
#include "scan/texts.h"
#include "tests/scan_fixture.h"
#include "tests/support/synth.h"

namespace {

using WalkTest = ScanFolderTest;

synth::Bytes PlainBytes(uint32_t seed) { return synth::MakeFile(synth::FileKind::Random, 300, seed); }

int CountRows(const std::string& status) {
    return static_cast<int>(std::count_if(recorder::rows.begin(), recorder::rows.end(),
                                          [&](const recorder::Row& row) { return row.status == status; }));
}

TEST_F(WalkTest, ShowsEachFolderOnEntryAndWhenItsListingEnds) {
    MakeFolder("Sub");
    Write("a.bin", PlainBytes(1));
    Write("Sub/b.bin", PlainBytes(2));
    ScanSingleFolder(Path().c_str());

    EXPECT_EQ(ScanStatistics.folders, 2);
    EXPECT_EQ(ScanStatistics.files, 2);
    EXPECT_TRUE(recorder::rows.empty()) << recorder::Dump();
    const std::string root = Path() + PathSeparator;
    const std::string sub = Path("Sub") + PathSeparator;
    const std::vector<std::string> expected = {root, sub, sub, root};
    EXPECT_EQ(recorder::shownObjects, expected);
}

TEST_F(WalkTest, TrailingSeparatorIsNotDoubled) {
    Write("a.bin", PlainBytes(3));
    const std::string withSeparator = Path() + PathSeparator;
    ScanSingleFolder(withSeparator.c_str());
    ASSERT_FALSE(recorder::shownObjects.empty());
    EXPECT_EQ(recorder::shownObjects.front(), withSeparator);
    EXPECT_EQ(ScanStatistics.files, 1);
}

TEST_F(WalkTest, EmptyFolderCountsOneFolderAndTheWorkerReportsElevenRows) {
    const std::string folder = Path();
    std::memcpy(SelectedFolder, folder.c_str(), folder.size() + 1);
    ScanWorker(nullptr);

    EXPECT_EQ(recorder::reports, 1);
    ASSERT_EQ(recorder::rows.size(), 11u) << recorder::Dump();
    EXPECT_EQ(recorder::rows[0], (recorder::Row{"Infome del analisis", ""}));
    EXPECT_EQ(recorder::rows[1], (recorder::Row{"Carpetas:", "1"}));
    EXPECT_EQ(recorder::rows[2], (recorder::Row{"Ficheros:", "0"}));
    EXPECT_EQ(recorder::rows[10], (recorder::Row{"Incapaz de desinfectar:", "0"}));
    // The worker shows the chosen folder again at the end.
    EXPECT_EQ(recorder::shownObjects.back(), folder);
}

TEST_F(WalkTest, VanishedFolderCountsOneFolderAndNothingElse) {
    const std::string gone = Path("gone");
    ScanSingleFolder(gone.c_str());
    EXPECT_EQ(ScanStatistics.folders, 1);
    EXPECT_EQ(ScanStatistics.files, 0);
    EXPECT_TRUE(recorder::rows.empty());
}

TEST_F(WalkTest, OnlyAFolderThatCannotBeListedIsNoted) {
    MakeFolder("Sub");
    MakeFolder("Sub/Empty");
    Write("Sub/a.bin", PlainBytes(3));
    ScanSingleFolder(Path().c_str());
    EXPECT_TRUE(recorder::notes.empty());
    EXPECT_EQ(recorder::filesExamined, 1);
    const std::string gone = Path("gone");
    ScanSingleFolder(gone.c_str());

    EXPECT_EQ(ScanStatistics.folders, 1);
    EXPECT_TRUE(recorder::rows.empty()) << recorder::Dump();
    const std::vector<std::string> expected = {"unlisted " + gone + PathSeparator};
    EXPECT_EQ(recorder::notes, expected);
}

TEST_F(WalkTest, ScanResetsCountersFromAnEarlierRun) {
    ScanStatistics.files = 40;
    ScanStatistics.failed = 3;
    ScanSingleFolder(Path().c_str());
    EXPECT_EQ(ScanStatistics.files, 0);
    EXPECT_EQ(ScanStatistics.failed, 0);
}

TEST_F(WalkTest, StopLetsTheFileInHandFinishAndListsNothingMore) {
    for (int i = 0; i < 4; ++i) Write("w" + std::to_string(i) + ".exe", synth::MakeWormCopy(i, 10u + static_cast<uint32_t>(i)).bytes);
    recorder::onRow = [](const recorder::Row& row) {
        if (row.status.rfind(InfectedPrefix, 0) == 0) StopScan();
    };
    ScanSingleFolder(Path().c_str());

    // The worm copy in hand is still deleted after the stop request.
    EXPECT_EQ(ScanStatistics.files, 1);
    EXPECT_EQ(ScanStatistics.infected, 1);
    EXPECT_EQ(ScanStatistics.deleted, 1);
    EXPECT_EQ(CountRows(DeletedText), 1) << recorder::Dump();
    EXPECT_EQ(keepScanning.load(), 0);
    // The folder is still shown as its listing ends.
    EXPECT_EQ(recorder::shownObjects.back(), Path() + PathSeparator);
}

TEST_F(WalkTest, StoppedRunEntersFurtherFoldersWithoutListingThem) {
    Write("a.exe", synth::MakeWormCopy(0, 20).bytes);
    keepScanning.store(0);
    // A folder walked after a stop is counted and shown, then left.
    std::memcpy(CurrentObjectPath, Path().c_str(), Path().size() + 1);
    WalkFolder();
    EXPECT_EQ(ScanStatistics.folders, 1);
    EXPECT_EQ(ScanStatistics.files, 0);
    EXPECT_EQ(recorder::shownObjects.size(), 1u);
    EXPECT_TRUE(Exists("a.exe"));
}

TEST_F(WalkTest, StopInAllDrivesModeStillCountsEveryFixedDrive) {
    ScanStatistics.infected = 5;
    // Stop as soon as the first drive is shown: it is not listed, and every
    // later fixed drive is entered, counted and shown, but not listed.
    recorder::onShow = [](const std::string&) { StopScan(); };
    ScanAllFixedDrives();
    EXPECT_EQ(ScanStatistics.infected, 0);
    EXPECT_EQ(ScanStatistics.files, 0);
    std::vector<std::string> fixed;
    for (uint32_t i = 0; i < 26; ++i) {
        const char root[4] = {static_cast<char>('A' + i), ':', '\\', '\0'};
        if ((LogicalDriveMask() & (1u << i)) != 0 && IsFixedDrive(root)) fixed.emplace_back(root);
    }
    EXPECT_EQ(ScanStatistics.folders, static_cast<int>(fixed.size()));
    EXPECT_EQ(recorder::shownObjects, fixed) << "each root once, in letter order, without a doubled backslash";
}

#ifndef _WIN32
// Names that the Win32 layer cannot create; the POSIX walk must cope.
TEST_F(WalkTest, DotEntriesAreSkippedButTripleDotIsWalked) {
    MakeFolder("...");
    Write(".../inside.bin", PlainBytes(4));
    Write("..x", PlainBytes(5));
    ScanSingleFolder(Path().c_str());
    EXPECT_EQ(ScanStatistics.folders, 2);
    EXPECT_EQ(ScanStatistics.files, 2);
}

TEST_F(WalkTest, PathsLongerThanTheOldDialogBufferAreWalkedThroughDescriptors) {
    // A folder chain whose path leaves room for a short name but not for a
    // long one in the 520-byte buffer the dialog once had: this walk has no
    // such limit.
    constexpr size_t OldBuffer = 520;
    std::string relative;
    while (Path(relative).size() < OldBuffer - 60) {
        relative += (relative.empty() ? "" : "/") + std::string(40, 'd');
        MakeFolder(relative);
    }
    const size_t room = OldBuffer - 1 - (Path(relative).size() + 1);
    Write(relative + "/" + std::string(room, 'f'), PlainBytes(6));
    Write(relative + "/" + std::string(room + 1, 'g') + ".exe", synth::MakeWormCopy(2, 31).bytes);
    ScanSingleFolder(Path().c_str());

    EXPECT_EQ(ScanStatistics.files, 2);
    EXPECT_EQ(ScanStatistics.deleted, 1);
    EXPECT_EQ(CountRows(PathTooLongText), 0) << recorder::Dump();
    EXPECT_FALSE(Exists(relative + "/" + std::string(room + 1, 'g') + ".exe"));
}

TEST_F(WalkTest, SymbolicLinksAndFifosAreNotExamined) {
    MakeFolder("real");
    Write("real/w.exe", synth::MakeWormCopy(1, 30).bytes);
    std::filesystem::create_directory_symlink(Path("real"), Path("linked-folder"));
    std::filesystem::create_symlink(Path("real/w.exe"), Path("linked.exe"));
    ASSERT_EQ(mkfifo(Path("pipe.exe").c_str(), 0600), 0);
    detectOnly = true;
    ScanSingleFolder(Path().c_str());
    EXPECT_EQ(ScanStatistics.folders, 2);
    EXPECT_EQ(ScanStatistics.files, 1);
    EXPECT_EQ(ScanStatistics.infected, 1);
}
#endif

}  // namespace
