// The engine against the synthesized corpus: every sample, written to a
// real file and examined through the file primitives, gets exactly the
// expected verdict and threat-table entry.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <system_error>

#include "engine/check_context.h"
#include "engine/crc32.h"
#include "engine/detectors.h"
#include "engine/file_io.h"
#include "engine/threats.h"
#include "tests/support/synth.h"

namespace {

using synth::Bytes;
using synth::Sample;

// The table entry whose text is name; nullptr for "" (and for an unknown
// name, which then fails the comparison).
ThreatName EntryFor(const std::string& name) {
    if (name.empty()) return nullptr;
    for (const ThreatNameEntry& entry : ThreatNameTable) {
        if (name == entry.text) return &entry;
    }
    return nullptr;
}

// A private folder under the temporary directory, removed at the end.
class ScratchFolder {
public:
    ScratchFolder() {
        std::random_device device;
        const std::filesystem::path base = std::filesystem::temp_directory_path();
        for (int attempt = 0; attempt < 100 && path_.empty(); ++attempt) {
            const std::filesystem::path candidate = base / ("velmora-corpus-" + std::to_string(device()));
            std::error_code error;
            if (std::filesystem::create_directory(candidate, error)) path_ = candidate;
        }
    }
    ~ScratchFolder() {
        std::error_code ignored;
        if (!path_.empty()) std::filesystem::remove_all(path_, ignored);
    }
    ScratchFolder(const ScratchFolder&) = delete;
    ScratchFolder& operator=(const ScratchFolder&) = delete;

    bool Ok() const { return !path_.empty(); }
    std::string File(const std::string& name) const { return (path_ / name).string(); }

private:
    std::filesystem::path path_;
};

struct Detection {
    bool opened = false;
    int verdict = -1;
    ThreatName threat = nullptr;
    // The same bytes examined from memory (the fuzzers' way in).
    int memoryVerdict = -1;
    ThreatName memoryThreat = nullptr;
};

Detection Detect(const std::string& path, const Bytes& bytes) {
    Detection result;
    if (!synth::WriteBytes(path, bytes)) return result;
    FileCheckContext context;
    context.path = path.c_str();
    context.file = FileOpen(path.c_str(), OpenMode::Read);
    if (context.file == InvalidFileHandle) return result;
    result.opened = true;
    result.verdict = DetectThreat(&context);
    result.threat = context.threatName;
    FileClose(context.file);
    FileCheckContext inMemory;
    result.memoryVerdict = DetectThreatInMemory(&inMemory, bytes.data(), bytes.size());
    result.memoryThreat = inMemory.threatName;
    return result;
}

class Corpus : public ::testing::TestWithParam<uint32_t> {};

TEST_P(Corpus, EverySampleGetsItsVerdictAndTableEntry) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.Ok());
    const std::vector<Sample> corpus = synth::BuildCorpus(GetParam());
    ASSERT_GE(corpus.size(), 50u);
    for (const Sample& sample : corpus) {
        SCOPED_TRACE(sample.name);
        const ThreatName expected = EntryFor(sample.threat);
        ASSERT_EQ(expected == nullptr, sample.threat.empty()) << "no table entry for " << sample.threat;
        const Detection found = Detect(folder.File(sample.name + ".exe"), sample.bytes);
        ASSERT_TRUE(found.opened);
        EXPECT_EQ(found.verdict, sample.verdict);
        EXPECT_EQ(found.memoryVerdict, sample.verdict);
        EXPECT_EQ(found.memoryThreat, expected);
        EXPECT_EQ(found.threat, expected) << "named " << (found.threat != nullptr ? found.threat->text : "nothing")
                                          << ", expected " << (expected != nullptr ? expected->text : "nothing");
    }
}

TEST_P(Corpus, HostsBeforeInfectionAreClean) {
    ScratchFolder folder;
    ASSERT_TRUE(folder.Ok());
    size_t hosts = 0;
    for (const Sample& sample : synth::BuildCorpus(GetParam())) {
        if (sample.clean.empty()) continue;
        ++hosts;
        SCOPED_TRACE(sample.name);
        const Detection found = Detect(folder.File(sample.name + ".clean.exe"), sample.clean);
        ASSERT_TRUE(found.opened);
        EXPECT_EQ(found.verdict, 0);
        EXPECT_EQ(found.threat, nullptr);
        EXPECT_EQ(found.memoryVerdict, 0);
        EXPECT_EQ(found.memoryThreat, nullptr);
    }
    EXPECT_GT(hosts, 0u);
}

INSTANTIATE_TEST_SUITE_P(Seeds, Corpus, ::testing::Values(1u, 0xBEEFu, 20261208u));

// Two implementations of the same checksum written apart must agree; the
// lengths cover the table walk's start and the 32768-byte regions.
TEST(CorpusCrc, EngineAndSynthesizerAgree) {
    synth::Rng rng(7);
    for (size_t length : {size_t{0}, size_t{1}, size_t{3}, size_t{11}, size_t{224}, size_t{32768}}) {
        Bytes data(length);
        rng.Fill(data.data(), data.size());
        EXPECT_EQ(::Crc32Raw(data.data(), static_cast<int32_t>(length)), synth::Crc32Raw(data.data(), length))
            << length << " bytes";
    }
    const char abc[] = "abc";
    EXPECT_EQ(::Crc32Raw(abc, 3), synth::Crc32Raw(reinterpret_cast<const uint8_t*>(abc), 3));
}

}  // namespace
