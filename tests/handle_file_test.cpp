// Per-file handling through a real file system: rows, counters and what is
// left on disk, for every kind of synthesized sample.
#include <gtest/gtest.h>

#include <string>
#include <vector>


#include "scan/texts.h"
#include "tests/scan_fixture.h"
#include "tests/support/synth.h"

namespace {

using HandleFileTest = ScanFolderTest;
using recorder::Row;

std::string Infected(const std::string& threat) { return std::string(InfectedPrefix) + threat; }

std::vector<synth::Sample> Corpus() { return synth::BuildCorpus(0x5EED); }

TEST_F(HandleFileTest, CleanFileCountsOnlyAsAFile) {
    Write("clean.exe", synth::MakeCleanSample(1).bytes);
    Handle("clean.exe");
    EXPECT_TRUE(recorder::rows.empty()) << recorder::Dump();
    EXPECT_EQ(ScanStatistics.files, 1);
    EXPECT_EQ(ScanStatistics.infected + ScanStatistics.disinfected + ScanStatistics.failed, 0);
}

TEST_F(HandleFileTest, EveryInfectedHostIsRepairedToItsCleanHostLayerByLayer) {
    int hosts = 0;
    for (const synth::Sample& sample : Corpus()) {
        if (sample.layers.empty()) continue;
        ++hosts;
        SCOPED_TRACE(sample.name);
        recorder::Reset();
        ResetScanStatistics();
        const std::string name = sample.name + ".exe";
        Write(name, sample.bytes);
        Handle(name);

        EXPECT_EQ(Read(name), sample.clean) << "repair must give back the host byte for byte";
        std::vector<Row> expected;
        for (const synth::Layer& layer : sample.layers) {
            expected.push_back({Path(name), Infected(layer.threat)});
            expected.push_back({Path(name), DisinfectedText});
        }
        EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
        EXPECT_EQ(ScanStatistics.files, 1);
        EXPECT_EQ(ScanStatistics.infected, 1);
        EXPECT_EQ(ScanStatistics.disinfected, 1);
    }
    EXPECT_GE(hosts, 4) << "the corpus must hold Elkern A, B and C hosts";
}

TEST_F(HandleFileTest, DoubleInfectionGivesFourRowsAndCountsOnce) {
    bool seen = false;
    for (const synth::Sample& sample : Corpus()) {
        if (sample.layers.size() < 2) continue;
        seen = true;
        Write("twice.exe", sample.bytes);
        Handle("twice.exe");
        ASSERT_EQ(recorder::rows.size(), 4u) << recorder::Dump();
        EXPECT_EQ(recorder::rows[0].status, Infected(sample.layers[0].threat));
        EXPECT_EQ(recorder::rows[1].status, DisinfectedText);
        EXPECT_EQ(recorder::rows[2].status, Infected(sample.layers[1].threat));
        EXPECT_EQ(recorder::rows[3].status, DisinfectedText);
        EXPECT_EQ(ScanStatistics.infected, 1);
        EXPECT_EQ(ScanStatistics.disinfected, 1);
        EXPECT_EQ(Read("twice.exe"), sample.clean);
        break;
    }
    EXPECT_TRUE(seen) << "the corpus must hold a double infection";
}

TEST_F(HandleFileTest, WormCopiesAreDeletedReadOnlyOnesToo) {
    const synth::Sample worm = synth::MakeWormCopy(4, 7);
    Write("worm.exe", worm.bytes);
    Write("locked.exe", synth::MakeWormCopy(6, 8).bytes);
    std::filesystem::permissions(Path("locked.exe"), std::filesystem::perms::owner_read |
                                                         std::filesystem::perms::group_read |
                                                         std::filesystem::perms::others_read);
    Handle("worm.exe");
    Handle("locked.exe");

    const std::vector<Row> expected = {
        {Path("worm.exe"), Infected("Win32.Klez.E@mm")},
        {Path("worm.exe"), DeletedText},
        {Path("locked.exe"), Infected("Win32.Klez.H@mm")},
        {Path("locked.exe"), DeletedText},
    };
    EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
    EXPECT_FALSE(Exists("worm.exe"));
    EXPECT_FALSE(Exists("locked.exe"));
    EXPECT_EQ(ScanStatistics.infected, 2);
    EXPECT_EQ(ScanStatistics.deleted, 2);
}

TEST_F(HandleFileTest, WarningsAndNearMissesStayUntouched) {
    int warnings = 0, clean = 0;
    for (const synth::Sample& sample : Corpus()) {
        if (sample.verdict == 1) continue;
        SCOPED_TRACE(sample.name);
        recorder::Reset();
        const std::string name = sample.name + ".exe";
        Write(name, sample.bytes);
        Handle(name);
        EXPECT_EQ(Read(name), sample.bytes);
        if (sample.verdict == 5) {
            ++warnings;
            ASSERT_EQ(recorder::rows.size(), 1u) << recorder::Dump();
            EXPECT_EQ(recorder::rows[0].status, std::string(WarningPrefix) + "Win32.Elkern.C");
        } else {
            ++clean;
            EXPECT_TRUE(recorder::rows.empty()) << recorder::Dump();
        }
    }
    EXPECT_EQ(ScanStatistics.warnings, warnings);
    EXPECT_GT(warnings, 0);
    EXPECT_GT(clean, 0);
}

TEST_F(HandleFileTest, DetectOnlyReportsAndChangesNothing) {
    detectOnly = true;
    const synth::Sample host = synth::MakeElkernAB('B', 3, 9);
    Write("host.exe", host.bytes);
    Write("worm.exe", synth::MakeWormCopy(0, 9).bytes);
    Handle("host.exe");
    Handle("worm.exe");
    const std::vector<Row> expected = {
        {Path("host.exe"), Infected("Win32.Elkern.B")},
        {Path("worm.exe"), Infected("Win32.Klez.A@mm")},
    };
    EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
    EXPECT_EQ(Read("host.exe"), host.bytes);
    EXPECT_TRUE(Exists("worm.exe"));
    EXPECT_EQ(ScanStatistics.infected, 2);
    EXPECT_EQ(ScanStatistics.disinfected + ScanStatistics.deleted, 0);
}

TEST_F(HandleFileTest, UnopenableFileGetsARowOnlyForExecutableExtensions) {
    MakeFolder("a.exe");
    Handle("b.EXE");        // does not exist: cannot be opened
    Handle("b.txt");
    Handle("a.exe/readme");  // the text after the last dot is exe/readme
    Handle("noext");
    const std::vector<Row> expected = {{Path("b.EXE"), UnableToOpenText}};
    EXPECT_EQ(recorder::rows, expected) << recorder::Dump();
    EXPECT_EQ(ScanStatistics.files, 4);
    EXPECT_EQ(ScanStatistics.failed + ScanStatistics.openErrors, 0);
}

TEST_F(HandleFileTest, EveryExtensionOfTheListIsRecognised) {
    for (const char* extension : {"exe", "com", "dll", "ocx", "scr", "cpl", "pif", "lnk", "bat", "cmd", "CmD"}) {
        Handle(std::string("missing.") + extension);
    }
    Handle("missing.exe2");
    Handle("missing.ex");
    EXPECT_EQ(recorder::rows.size(), 11u) << recorder::Dump();
}

// An Elkern.C body at the very start of a section: its block header lies
// outside the section, so the wipe may not touch it, and a repair that
// restores the same entry point leaves the marks in place. Left unbounded,
// examination and repair would alternate for ever.
synth::Bytes StubbornElkernC() {
    constexpr uint32_t body = 0x2400;  // file offset of section 1, RVA 0x3000
    synth::PeSpec spec;
    synth::PeSection first;
    first.data.assign(0x2000, 0xAA);
    first.virtualAddress = 0x1000;
    first.pointerToRawData = 0x400;
    synth::PeSection second;
    second.data.assign(0x600, 0x00);
    second.virtualAddress = 0x3000;
    second.pointerToRawData = body;
    spec.sections = {first, second};
    spec.entryPoint = 0x3000;
    synth::Bytes image = synth::BuildPe(spec);

    image[body - 2] = 0x57;
    image[body - 1] = 0x51;
    for (uint32_t i = 0; i < 4; ++i) image[body + i] = 0x90;
    EXPECT_TRUE(synth::ForgeCrc(image, body - 2, 11, body + 4, 0xC3324EA7u));
    EXPECT_TRUE(synth::ForgeCrc(image, body + 14, 11, body + 16, 0xD6CF7F28u));
    synth::Bytes plain(120, 0x5A);
    plain[0] = 0x60;
    plain[1] = 0x9C;
    EXPECT_TRUE(synth::ForgeCrc(plain, 0, 120, 2, 0x44706677u));
    for (uint32_t i = 0; i < 120; ++i) image[body + 313 + i] = static_cast<uint8_t>(plain[i] ^ (i % 2 ? 0x12 : 0x34));
    // The saved entry point is the body itself, and the saved host bytes are
    // the bytes already there: the repair rewrites what it finds.
    synth::PutLe32(image, body + 58, 0x3000);
    for (uint32_t i = 0; i < 4; ++i) image[body + 65 + i] = image[body + i];
    image[body + 72] = image[body + 4];
    return image;
}

TEST_F(HandleFileTest, RepairThatChangesNothingEndsAsAFailureInsteadOfLooping) {
    const synth::Bytes image = StubbornElkernC();
    Write("stubborn.exe", image);
    Handle("stubborn.exe");
    ASSERT_GE(recorder::rows.size(), 3u);
    EXPECT_EQ(recorder::rows[0].status, Infected("Win32.Elkern.C"));
    EXPECT_EQ(recorder::rows.back(), (Row{Path("stubborn.exe"), UnableToDisinfectText}));
    EXPECT_EQ(ScanStatistics.infected, 1);
    EXPECT_EQ(ScanStatistics.failed, 1);
    EXPECT_EQ(ScanStatistics.disinfected, 0);
    EXPECT_EQ(Read("stubborn.exe"), image);
}

}  // namespace

namespace {

// A front end that keeps what it changes is asked to save each file before
// its first change, from the examined file, and told what became of it; a
// file it could not save is left exactly as it is.
TEST_F(HandleFileTest, EveryChangedFileIsSavedFirstAndNothingUnsavedIsChanged) {
    const synth::Sample worm = synth::MakeWormCopy(3, 77);
    synth::Sample host;
    for (const synth::Sample& sample : Corpus()) {
        if (sample.layers.size() == 1) host = sample;
    }
    ASSERT_FALSE(host.bytes.empty());
    const std::string wormSize = std::to_string(worm.bytes.size());
    const std::string hostSize = std::to_string(host.bytes.size());

    Write("w.exe", worm.bytes);
    Write("h.exe", host.bytes);
    Write("clean.exe", synth::MakeCleanSample(2).bytes);
    Handle("w.exe");
    Handle("h.exe");
    Handle("clean.exe");
    const std::vector<std::string> saved = {"saved " + Path("w.exe") + " " + wormSize,
                                            "done " + Path("w.exe") + " deleted",
                                            "saved " + Path("h.exe") + " " + hostSize,
                                            "done " + Path("h.exe") + " disinfected"};
    EXPECT_EQ(recorder::changes, saved);
    EXPECT_FALSE(Exists("w.exe"));
    EXPECT_EQ(Read("h.exe"), host.clean);

    // The save fails: an infected row, then the failure, and no change.
    recorder::Reset();
    ResetScanStatistics();
    recorder::saveSucceeds = false;
    Write("w.exe", worm.bytes);
    Write("h.exe", host.bytes);
    Handle("w.exe");
    Handle("h.exe");
    EXPECT_EQ(Read("w.exe"), worm.bytes);
    EXPECT_EQ(Read("h.exe"), host.bytes);
    EXPECT_EQ(ScanStatistics.infected, 2);
    EXPECT_EQ(ScanStatistics.failed, 2);
    EXPECT_EQ(ScanStatistics.deleted + ScanStatistics.disinfected, 0);
    ASSERT_EQ(recorder::rows.size(), 4u) << recorder::Dump();
    EXPECT_EQ(recorder::rows[1], (Row{Path("w.exe"), UnableToDisinfectText}));
    EXPECT_EQ(recorder::rows[3], (Row{Path("h.exe"), UnableToDisinfectText}));
    EXPECT_EQ(recorder::changes.size(), 2u) << "asked to save, never told of a change";

    // Only findings are saved, and nothing in the read-only mode.
    recorder::Reset();
    detectOnly = true;
    Handle("w.exe");
    EXPECT_TRUE(recorder::changes.empty());
    EXPECT_EQ(Read("w.exe"), worm.bytes);
}

}  // namespace
