// Readers ahead of the handling change nothing but speed: rows, counters
// and files are those of the sequential walk; a stop still ends the scan
// after the file in hand; a folder swapped during the scan leads nowhere.
#include <gtest/gtest.h>

#include <algorithm>
#include <chrono>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <thread>
#include <filesystem>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#ifndef _WIN32
#include <dirent.h>
#include <sys/inotify.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "scan/read_ahead.h"
#include "scan/texts.h"
#include "scan/walk.h"
#include "tests/scan_fixture.h"
#include "tests/support/synth.h"

namespace {

using recorder::Row;
using ReadAheadTest = ScanFolderTest;

struct Outcome {
    std::vector<Row> rows;
    std::vector<std::string> notes;
    std::vector<int32_t> counters;
    std::map<std::string, synth::Bytes> files;
};

#ifndef _WIN32
// "locked.exe" cannot be opened; the folder "vanishing" goes as the walk is
// about to open it. The walk and the readers call this on their threads.
std::string vanishing;
int RefuseOrRemove(const char* name) {
    const std::string text = name;
    if (text == "locked.exe") return EACCES;
    if (text == "vanishing") std::filesystem::remove_all(vanishing);
    return 0;
}
#endif

TEST_F(ReadAheadTest, EveryNumberOfReadersGivesTheSameRowsCountersAndFiles) {
    const std::vector<synth::Sample> corpus = synth::BuildCorpus(951);
    std::vector<Outcome> outcomes;
    for (uint32_t readers : {1u, 2u, 16u}) {
        SCOPED_TRACE(readers);
        std::filesystem::remove_all(Path("t"));
        // More steps than the readers may be ahead, in several folders.
        for (const char* folder : {"t/a", "t/a/deep", "t/b", "t/vanishing"}) {
            MakeFolder(folder);
            for (const synth::Sample& sample : corpus) Write(std::string(folder) + "/" + sample.name + ".exe", sample.bytes);
        }
        for (int i = 0; i < 1200; ++i) Write("t/b/plain" + std::to_string(i) + ".txt", {static_cast<uint8_t>(i)});
        Write("t/a/locked.exe", synth::MakeWormCopy(1, 952).bytes);
#ifndef _WIN32
        vanishing = Path("t/vanishing");
        seamOpenError = RefuseOrRemove;
#endif
        recorder::Reset();
        scanReaders = readers;
        ScanSingleFolder(Path("t").c_str());
        ResetSeams();

        Outcome outcome{recorder::rows, recorder::notes, {}, {}};
        const ScanCounters& c = ScanStatistics;
        outcome.counters = {c.folders, c.files, c.infected, c.warnings, c.suspicious, c.disinfected, c.deleted, c.failed,
                            c.openErrors};
        for (const auto& entry : std::filesystem::recursive_directory_iterator(Path("t"))) {
            if (entry.is_regular_file()) outcome.files[entry.path().string()] = Read(entry.path().string().substr(root_.size() + 1));
        }
        outcomes.push_back(outcome);
    }
    const Outcome& sequential = outcomes[0];
    EXPECT_GT(sequential.counters[2], 20) << "infected";
    EXPECT_GT(sequential.counters[5], 5) << "disinfected";
    EXPECT_GT(sequential.counters[6], 5) << "deleted";
#ifndef _WIN32
    EXPECT_NE(std::find(sequential.rows.begin(), sequential.rows.end(), Row{Path("t/a/locked.exe"), UnableToOpenText}),
              sequential.rows.end());
    const std::vector<std::string> notes = {"unopened " + Path("t/a/locked.exe"),
                                            "unopened-folder " + Path("t/vanishing") + "/"};
    for (const std::string& note : notes) {
        EXPECT_NE(std::find(sequential.notes.begin(), sequential.notes.end(), note), sequential.notes.end()) << note;
    }
#endif
    for (size_t i = 1; i < outcomes.size(); ++i) {
        EXPECT_EQ(outcomes[i].rows, sequential.rows) << recorder::Dump();
        EXPECT_EQ(outcomes[i].notes, sequential.notes);
        EXPECT_EQ(outcomes[i].counters, sequential.counters);
        EXPECT_TRUE(outcomes[i].files == sequential.files);
    }
}

// Readers held as they wake while the handling takes the files itself, far
// enough that the walk reuses the slots of the files they were to look at
// next: let go, they take the files at the head, not those of the reused
// slots under their old numbers, and the handling, waiting for each file a
// reader holds, is told when it is done.
std::mutex lagLock;
std::condition_variable lagChanged;
int shown = 0;
bool readersMayGo = false;
std::string waitedOn;

void HoldWokenReader() {
    std::unique_lock<std::mutex> lock(lagLock);
    lagChanged.wait(lock, [] { return readersMayGo; });
}

void HoldUntilWaitedOn(const char* path) {
    std::unique_lock<std::mutex> lock(lagLock);
    lagChanged.wait(lock, [path] { return waitedOn == path; });
}

void NoteWaitedOn(const char* path) {
    std::lock_guard<std::mutex> lock(lagLock);
    waitedOn = path;
    lagChanged.notify_all();
}

TEST_F(ReadAheadTest, ReadersLeftBehindByTheHandlingTakeTheFilesAtItsHead) {
    // 700 folders of one file each: 2,100 steps, two windows' worth.
    for (int i = 0; i < 700; ++i) {
        const std::string folder = "t/f" + std::to_string(1000 + i);
        MakeFolder(folder);
        Write(folder + "/a.txt", {static_cast<uint8_t>(i)});
    }
    shown = 0;
    readersMayGo = false;
    waitedOn.clear();
    // The handling shows each folder as it enters and leaves it: 400 shows
    // are some 600 steps, past the slots of the first files.
    recorder::onShow = [](const std::string&) {
        std::lock_guard<std::mutex> lock(lagLock);
        if (++shown == 400) readersMayGo = true;
        lagChanged.notify_all();
    };
    seamReaderWakes = HoldWokenReader;
    seamReaderExamines = HoldUntilWaitedOn;
    seamHandlingWaits = NoteWaitedOn;
    scanReaders = 2;
    // Were a reader to take a reused slot under its old number, the
    // handling would wait for it for ever: that ends the test instead.
    bool over = false;
    std::thread watchdog([&over] {
        std::unique_lock<std::mutex> lock(lagLock);
        if (!lagChanged.wait_for(lock, std::chrono::minutes(2), [&over] { return over; })) {
            std::fprintf(stderr, "the handling waits for a reader that never tells it\n");
            std::abort();
        }
    });
    ScanSingleFolder(Path("t").c_str());
    {
        std::lock_guard<std::mutex> lock(lagLock);
        over = true;
        lagChanged.notify_all();
    }
    watchdog.join();
    seamReaderWakes = nullptr;
    seamReaderExamines = nullptr;
    seamHandlingWaits = nullptr;
    recorder::onShow = nullptr;

    EXPECT_TRUE(readersMayGo);
    EXPECT_FALSE(waitedOn.empty()) << "no reader took a file after it was let go";
    EXPECT_EQ(ScanStatistics.files, 700);
    EXPECT_EQ(ScanStatistics.folders, 701);
    EXPECT_TRUE(recorder::rows.empty()) << recorder::Dump();
}

#ifndef _WIN32
// The first file the walk lists in path's folder.
std::string FirstListed(const std::string& folder) {
    DIR* dir = opendir(folder.c_str());
    std::string first;
    while (const dirent* item = readdir(dir)) {
        if (item->d_type == DT_REG) {
            first = item->d_name;
            break;
        }
    }
    closedir(dir);
    return first;
}

std::mutex heldLock;
std::condition_variable heldChanged;
int readersHolding = 0;
std::string waitedFor;
bool stopped = false;

// Each reader holds its file until the handling waits for that file, and
// then the scan is interrupted; every other reader is held until then.
void HoldUntilTheHandlingWaits(const char* path) {
    std::unique_lock<std::mutex> lock(heldLock);
    readersHolding += 1;
    heldChanged.notify_all();
    heldChanged.wait(lock, [path] { return stopped || waitedFor == path; });
    if (!stopped) {
        StopScan();
        stopped = true;
        heldChanged.notify_all();
    }
}

void NoteHandlingWaits(const char* path) {
    std::lock_guard<std::mutex> lock(heldLock);
    if (waitedFor.empty()) waitedFor = path;
    heldChanged.notify_all();
}

TEST_F(ReadAheadTest, AStopWhileAReaderHoldsTheFileInHandFinishesThatFileAlone) {
    const synth::Sample host = synth::MakeElkernAB('A', 4, 961);
    MakeFolder("t");
    for (int i = 0; i < 12; ++i) Write("t/host" + std::to_string(i) + ".exe", host.bytes);
    const std::string first = FirstListed(Path("t"));
    readersHolding = 0;
    waitedFor.clear();
    stopped = false;
    // The handling enters the folder only once every reader holds a file:
    // the first files are then theirs, and the handling waits for the first.
    recorder::onShow = [](const std::string&) {
        std::unique_lock<std::mutex> lock(heldLock);
        heldChanged.wait(lock, [] { return readersHolding >= 4; });
    };
    seamReaderExamines = HoldUntilTheHandlingWaits;
    seamHandlingWaits = NoteHandlingWaits;
    scanReaders = 4;
    ScanSingleFolder(Path("t").c_str());
    seamReaderExamines = nullptr;
    seamHandlingWaits = nullptr;

    const std::string held = Path("t/" + first);
    EXPECT_EQ(waitedFor, held);
    const std::vector<Row> expected = {{held, std::string(InfectedPrefix) + host.threat}, {held, DisinfectedText}};
    EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
    EXPECT_EQ(ScanStatistics.files, 1);
    EXPECT_EQ(recorder::filesExamined, 1);
    for (int i = 0; i < 12; ++i) {
        const std::string name = "host" + std::to_string(i) + ".exe";
        EXPECT_EQ(Read("t/" + name), name == first ? host.clean : host.bytes) << name;
    }
}

// At the first examination, while readers are ahead of the handling, the
// folder is swapped for a link to a folder outside: the files listed in it
// are still reached through the folder as it was, and nothing outside is.
std::string swapFolder, swapAside, swapOutside;
bool swapped = false;

void SwapForLink(const char*) {
    std::lock_guard<std::mutex> lock(heldLock);
    if (swapped) return;
    std::filesystem::rename(swapFolder, swapAside);
    std::filesystem::create_directory_symlink(swapOutside, swapFolder);
    swapped = true;
    heldChanged.notify_all();
}

TEST_F(ReadAheadTest, AFolderSwappedForALinkWhileReadersAreAheadLeadsNowhereOutside) {
    const synth::Sample host = synth::MakeElkernC(true, 971);
    const synth::Sample worm = synth::MakeWormCopy(5, 972);
    MakeFolder("tree/d");
    MakeFolder("outside");
    for (const char* name : {"h1.exe", "h2.exe", "h3.exe"}) {
        Write(std::string("tree/d/") + name, host.bytes);
        Write(std::string("outside/") + name, host.bytes);
    }
    Write("tree/d/w.exe", worm.bytes);
    Write("outside/w.exe", worm.bytes);
    swapFolder = Path("tree/d");
    swapAside = Path("tree/d-aside");
    swapOutside = Path("outside");
    swapped = false;
    const int watch = inotify_init1(IN_NONBLOCK | IN_CLOEXEC);
    ASSERT_GE(watch, 0);
    ASSERT_GE(inotify_add_watch(watch, swapOutside.c_str(), IN_OPEN | IN_ACCESS | IN_MODIFY), 0);
    seamReaderExamines = SwapForLink;
    // The handling takes its first step only once a reader is ahead.
    recorder::onShow = [](const std::string&) {
        std::unique_lock<std::mutex> lock(heldLock);
        heldChanged.wait(lock, [] { return swapped; });
    };
    scanReaders = 4;
    ScanSingleFolder(Path("tree").c_str());
    seamReaderExamines = nullptr;
    char events[4096];
    const ssize_t seen = read(watch, events, sizeof events);
    close(watch);

    ASSERT_TRUE(swapped);
    EXPECT_EQ(seen, -1) << "something outside was opened";
    EXPECT_EQ(ScanStatistics.disinfected, 3) << recorder::Dump();
    EXPECT_EQ(ScanStatistics.deleted, 1);
    for (const char* name : {"h1.exe", "h2.exe", "h3.exe"}) {
        EXPECT_EQ(Read(std::string("outside/") + name), host.bytes) << name;
        EXPECT_EQ(Read(std::string("tree/d-aside/") + name), host.clean) << name;
    }
    EXPECT_EQ(Read("outside/w.exe"), worm.bytes);
    EXPECT_FALSE(Exists("tree/d-aside/w.exe"));
}
#endif

}  // namespace
