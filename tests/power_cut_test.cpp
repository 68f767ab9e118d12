// A power cut at any moment of a repair never destroys a program: every
// state the disk could be left in either is still infected, and the next
// scan repairs it to the same cure, or already runs as the cure.
#include <gtest/gtest.h>

#include <algorithm>
#include <set>
#include <string>
#include <vector>

#include "adapters/seams.h"
#include "scan/texts.h"
#include "scan/walk.h"
#include "tests/scan_fixture.h"
#include "tests/support/synth.h"
#include "tests/write_log.h"

namespace {

using recorder::Row;
using PowerCutTest = ScanFolderTest;
using synth::Bytes;

// What a loader reads of the cure: the headers up to the end of the section
// table, and the five bytes at the entry point. Body bytes that are left
// behind are never reached.
std::vector<std::pair<size_t, size_t>> ReachableRanges(const Bytes& cure) {
    const uint32_t lfanew = synth::PeLfanew(cure);
    const size_t sections = synth::GetLe16(cure, lfanew + 6);
    const size_t optionalHeader = synth::GetLe16(cure, lfanew + 20);
    uint32_t entry = 0;
    EXPECT_TRUE(synth::MapRva(cure, synth::PeEntryPoint(cure), &entry));
    return {{0, lfanew + 24 + optionalHeader + 40 * sections}, {entry, 5}};
}

bool SameReachable(const Bytes& file, const Bytes& cure) {
    if (file.size() != cure.size()) return false;
    for (const auto& range : ReachableRanges(cure)) {
        if (!std::equal(cure.begin() + static_cast<long>(range.first),
                        cure.begin() + static_cast<long>(range.first + range.second),
                        file.begin() + static_cast<long>(range.first))) {
            return false;
        }
    }
    return true;
}

std::vector<synth::Sample> Hosts() {
    std::vector<synth::Sample> hosts = {
        synth::MakeElkernAB('A', 3, 901), synth::MakeElkernAB('B', 6, 902),
        synth::MakeElkernC(true, 903),    synth::MakeElkernC(false, 904),
        // A large host, whose chain lies in cavities pages apart.
        synth::MakeElkernAB('A', 5, 905, synth::HostOptions{false, 64 * 1024}),
    };
    for (const synth::Sample& sample : synth::BuildCorpus(906)) {
        if (sample.layers.size() >= 2) hosts.push_back(sample);
    }
    return hosts;
}

size_t PagesWritten() {
    std::set<int64_t> pages;
    for (const writelog::Event& event : writelog::events) {
        if (event.kind == writelog::Event::Write) pages.insert(event.position / 4096);
    }
    return pages.size();
}

TEST_F(PowerCutTest, EveryStateARepairCanLeaveRunsOrIsRepairedAgainToTheSameCure) {
    size_t doubles = 0, severalPages = 0, statesSeen = 0;
    for (const synth::Sample& sample : Hosts()) {
        SCOPED_TRACE(sample.name);
        ASSERT_FALSE(sample.layers.empty());
        doubles += sample.layers.size() >= 2 ? 1u : 0u;
        Write("host.exe", sample.bytes);
        writelog::Start();
        Handle("host.exe");
        ResetSeams();
        const Bytes cure = Read("host.exe");
        ASSERT_EQ(cure, sample.clean) << recorder::Dump();
        severalPages += PagesWritten() >= 3 ? 1u : 0u;

        // Two barriers a layer: after the header, after the wipe; and
        // nothing written after the last one.
        size_t flushes = 0;
        for (const writelog::Event& event : writelog::events) flushes += event.kind == writelog::Event::Flush;
        EXPECT_EQ(flushes, 2 * sample.layers.size());
        ASSERT_FALSE(writelog::events.empty());
        EXPECT_EQ(writelog::events.back().kind, writelog::Event::Flush);

        std::vector<Bytes> states;
        ASSERT_TRUE(writelog::PowerCutStates(sample.bytes, &states));
        statesSeen += states.size();
        size_t damaged = 0;
        for (const Bytes& state : states) {
            Write("host.exe", state);
            recorder::Reset();
            ResetScanStatistics();
            Handle("host.exe");
            const Bytes after = Read("host.exe");
            const bool failed = ScanStatistics.failed != 0;
            if (failed || !SameReachable(after, cure)) ++damaged;
            // A state that is not yet the cure is infected and repaired.
            if (!SameReachable(state, cure)) {
                EXPECT_EQ(ScanStatistics.disinfected, 1) << recorder::Dump();
            }
        }
        EXPECT_EQ(damaged, 0u) << "of " << states.size() << " states";
    }
    EXPECT_GE(doubles, 1u);
    EXPECT_GE(severalPages, 1u) << "some repair must write pages apart";
    EXPECT_GT(statesSeen, 50u);
}

// A barrier that fails is a write that failed; the first one fails before
// the body is touched.
TEST_F(PowerCutTest, AFlushThatFailsMakesTheRepairFail) {
    const synth::Sample host = synth::MakeElkernC(false, 911);
    for (uint32_t failing : {1u, 2u}) {
        recorder::Reset();
        Write("c.exe", host.bytes);
        writelog::Start();
        seamFailFlush = failing;
        Handle("c.exe");
        const size_t writes = writelog::events.size();
        ResetSeams();
        EXPECT_EQ(recorder::rows.back(), (Row{Path("c.exe"), UnableToDisinfectText}));
        EXPECT_EQ(recorder::changes.back(), "done " + Path("c.exe") + " failed");
        EXPECT_EQ(writes > 2, failing == 2) << "header and entry bytes only, or the wipe too";
        EXPECT_TRUE(SameReachable(Read("c.exe"), host.clean));
    }
    EXPECT_EQ(ScanStatistics.failed, 2);
    EXPECT_EQ(ScanStatistics.disinfected, 0);
}

// A file that needs nothing is only read: a scan of clean files, warnings
// and near misses neither writes nor flushes.
TEST_F(PowerCutTest, ACleanScanWritesAndFlushesNothing) {
    int files = 0;
    for (const synth::Sample& sample : synth::BuildCorpus(907)) {
        if (sample.verdict == 1) continue;
        Write(sample.name + ".exe", sample.bytes);
        ++files;
    }
    writelog::Start();
    ScanSingleFolder(Path().c_str());
    EXPECT_EQ(ScanStatistics.files, files);
    EXPECT_GT(ScanStatistics.warnings, 0);
    EXPECT_TRUE(writelog::events.empty());
    EXPECT_EQ(seamFlushCount, 0u);
}

}  // namespace
