// A disinfection never damages a file: not when another program cures or
// replaces it between its examination and its repair, not when a write of
// the repair fails, not when another scanner holds it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#ifndef _WIN32
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <cerrno>
#endif

#include "adapters/seams.h"
#include "engine/file_io.h"

#include "scan/texts.h"
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
#endif

}  // namespace
