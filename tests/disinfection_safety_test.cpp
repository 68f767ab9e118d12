// A disinfection never damages a file: not when another program cures or
// replaces it between its examination and its repair, not when a write of
// the repair fails, not when another scanner holds it.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "adapters/seams.h"
#include "engine/file_io.h"

#include "scan/texts.h"
#include "scan/walk.h"
#include "tests/scan_fixture.h"
#include "tests/support/synth.h"

namespace {

using recorder::Row;
using SafetyTest = ScanFolderTest;

std::string Infected(const std::string& threat) { return std::string(InfectedPrefix) + threat; }

// What another program writes over the file right before the scanner opens
// it for writing.
synth::Bytes replacement;

void ReplaceFile(const char* path) {
    std::ofstream out(path, std::ios::binary | std::ios::trunc);
    out.write(reinterpret_cast<const char*>(replacement.data()), static_cast<std::streamsize>(replacement.size()));
}

struct StaleCase {
    const char* what;
    synth::Sample sample;
    synth::Bytes replacedBy;
};

TEST_F(SafetyTest, FileChangedBetweenExaminationAndRepairIsLeftAsItIsNow) {
    const synth::Sample hostA = synth::MakeElkernAB('A', 3, 61);
    const synth::Sample hostB = synth::MakeElkernAB('B', 6, 62);
    const synth::Sample hostC = synth::MakeElkernC(true, 63);
    const synth::Sample hostCNoJump = synth::MakeElkernC(false, 64);
    const synth::Sample warningC = synth::MakeElkernC(true, 63, synth::CStretch::WrongCrc);
    const synth::Sample worm = synth::MakeWormCopy(3, 65);
    ASSERT_EQ(warningC.verdict, 5);
    const std::vector<StaleCase> cases = {
        // Another scanner cured it: nothing may be "repaired" again.
        {"A cured", hostA, hostA.clean},
        {"B cured", hostB, hostB.clean},
        {"C cured", hostC, hostC.clean},
        {"C without jump cured", hostCNoJump, hostCNoJump.clean},
        // The marks are still there but no longer the ones detection found.
        {"A became B", hostA, hostB.bytes},
        {"C lost its encrypted checksum", hostC, warningC.bytes},
        // A clean file took the worm copy's place: it must not be deleted.
        {"worm replaced", worm, synth::MakeCleanSample(66).bytes},
    };
    for (const StaleCase& c : cases) {
        SCOPED_TRACE(c.what);
        recorder::Reset();
        ResetScanStatistics();
        Write("f.exe", c.sample.bytes);
        replacement = c.replacedBy;
        seamBeforeWritableOpen = ReplaceFile;
        Handle("f.exe");
        seamBeforeWritableOpen = nullptr;

        const std::vector<Row> expected = {{Path("f.exe"), Infected(c.sample.threat)},
                                           {Path("f.exe"), UnableToDisinfectText}};
        EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
        EXPECT_EQ(ScanStatistics.failed, 1);
        EXPECT_EQ(ScanStatistics.disinfected + ScanStatistics.deleted, 0);
        ASSERT_TRUE(Exists("f.exe"));
        EXPECT_EQ(Read("f.exe"), c.replacedBy) << "not one byte may change";
    }
}

uint32_t EntryPoint(const synth::Bytes& image) { return synth::PeEntryPoint(image); }

TEST_F(SafetyTest, EveryWriteOfARepairCountsAndTheHeaderComesFirst) {
    for (const synth::Sample& host : {synth::MakeElkernAB('B', 1, 71), synth::MakeElkernC(true, 72),
                                      synth::MakeElkernC(false, 73)}) {
        SCOPED_TRACE(host.name);
        ASSERT_EQ(host.layers.size(), 1u);
        // How many writes a whole repair takes.
        Write("h.exe", host.bytes);
        seamWriteCount = 0;
        Handle("h.exe");
        ASSERT_EQ(Read("h.exe"), host.clean);
        const uint32_t writes = seamWriteCount;
        ASSERT_GE(writes, 3u) << "header, block header and block data at least";

        for (uint32_t failing = 1; failing <= writes + 1; ++failing) {
            SCOPED_TRACE("write " + std::to_string(failing) + " of " + std::to_string(writes) + " fails");
            recorder::Reset();
            ResetScanStatistics();
            Write("h.exe", host.bytes);
            seamWriteCount = 0;
            seamFailWrite = failing;
            Handle("h.exe");
            seamFailWrite = 0;
            const synth::Bytes after = Read("h.exe");
            ASSERT_EQ(after.size(), host.bytes.size());
            if (failing > writes) {
                EXPECT_EQ(after, host.clean);
                EXPECT_EQ(ScanStatistics.disinfected, 1);
                EXPECT_EQ(ScanStatistics.failed, 0);
                continue;
            }
            const std::vector<Row> expected = {{Path("h.exe"), Infected(host.threat)},
                                               {Path("h.exe"), UnableToDisinfectText}};
            EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
            EXPECT_EQ(ScanStatistics.failed, 1);
            EXPECT_EQ(ScanStatistics.disinfected, 0);
            if (failing == 1) {
                EXPECT_EQ(after, host.bytes) << "the header write failed: nothing changed";
            } else {
                // The host's entry point is back before any of the body goes.
                EXPECT_EQ(EntryPoint(after), EntryPoint(host.clean));
                EXPECT_NE(after, host.clean);
            }
        }
    }
}

#ifndef _WIN32
TEST_F(SafetyTest, ReadWriteHandleLocksTheFileUntilItIsClosed) {
    Write("l.exe", {1, 2, 3});
    const int other = open(Path("l.exe").c_str(), O_RDONLY);
    ASSERT_GE(other, 0);
    FileHandle writer = FileOpen(Path("l.exe").c_str(), OpenMode::ReadWrite);
    ASSERT_NE(writer, InvalidFileHandle);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), -1);
    EXPECT_EQ(errno, EWOULDBLOCK);
    EXPECT_EQ(flock(other, LOCK_SH | LOCK_NB), -1) << "not even a shared lock";
    FileClose(writer);
    EXPECT_EQ(flock(other, LOCK_EX | LOCK_NB), 0) << "closing releases the lock";
    close(other);
}

size_t OpenDescriptors() {
    size_t count = 0;
    for (const auto& entry : std::filesystem::directory_iterator("/proc/self/fd")) {
        static_cast<void>(entry);
        ++count;
    }
    return count;
}

// Right before the scanner opens a file of the folder swapRoot for writing,
// another program puts a FIFO in place of "to-fifo.exe" and a new regular
// file in place of "to-other.exe".
std::string swapRoot;

void SwapBeforeRepair(const char* name) {
    const std::string leaf = std::filesystem::path(name).filename().string();
    const std::string path = swapRoot + "/" + leaf;
    if (leaf == "to-fifo.exe") {
        unlink(path.c_str());
        mkfifo(path.c_str(), 0600);
    } else if (leaf == "to-other.exe") {
        unlink(path.c_str());
        synth::WriteBytes(path, replacement);
    }
}

// Every open the scan refuses gives its descriptor back, by path and within
// an open folder: a FIFO listed as one, and files swapped for a FIFO or for
// another file between their examination and their repair.
TEST_F(SafetyTest, RefusedOpensGiveTheirDescriptorsBack) {
    const synth::Sample host = synth::MakeElkernAB('B', 2, 931);
    replacement = synth::MakeCleanSample(932).bytes;
    swapRoot = Path();
    ASSERT_EQ(mkfifo(Path("listed-fifo.exe").c_str(), 0600), 0);
    Write("to-fifo.exe", host.bytes);
    Write("to-other.exe", host.bytes);
    seamBeforeWritableOpen = SwapBeforeRepair;
    const size_t before = OpenDescriptors();
    ScanSingleFolder(Path().c_str());
    EXPECT_EQ(OpenDescriptors(), before) << recorder::Dump();
    EXPECT_EQ(ScanStatistics.failed, 2) << recorder::Dump();
    EXPECT_EQ(Read("to-other.exe"), replacement) << "what was never examined is not repaired";

    Write("by-path.exe", host.bytes);
    recorder::Reset();
    swapRoot = Path();
    for (const char* name : {"to-fifo.exe", "to-other.exe"}) {
        std::filesystem::remove(Path(name));
        Write(name, host.bytes);
        Handle(name);
    }
    Handle("listed-fifo.exe");
    EXPECT_EQ(OpenDescriptors(), before) << recorder::Dump();
    EXPECT_EQ(recorder::rows.back(), (Row{Path("listed-fifo.exe"), UnableToOpenText}));
}

// A program its owner could neither read nor write is made so for its
// repair, and keeps every other bit of its mode: it still runs.
TEST_F(SafetyTest, RepairedProgramKeepsItsExecuteBits) {
    const synth::Sample host = synth::MakeElkernC(true, 941);
    MakeFolder("d");
    Write("d/r-x.exe", host.bytes);
    Write("d/x-only.exe", host.bytes);
    Write("by-path.exe", host.bytes);
    ASSERT_EQ(chmod(Path("d/r-x.exe").c_str(), 0555), 0);
    ASSERT_EQ(chmod(Path("d/x-only.exe").c_str(), 0111), 0);
    ASSERT_EQ(chmod(Path("by-path.exe").c_str(), 0511), 0);
    ScanSingleFolder(Path("d").c_str());
    Handle("by-path.exe");
    EXPECT_EQ(ScanStatistics.disinfected, 3) << recorder::Dump();
    const std::pair<const char*, mode_t> expected[] = {{"d/r-x.exe", 0755}, {"d/x-only.exe", 0711}, {"by-path.exe", 0711}};
    for (const auto& file : expected) {
        struct stat info {};
        ASSERT_EQ(stat(Path(file.first).c_str(), &info), 0);
        EXPECT_EQ(info.st_mode & 07777, file.second) << file.first;
        EXPECT_EQ(Read(file.first), host.clean) << file.first;
    }
}
#endif

}  // namespace
