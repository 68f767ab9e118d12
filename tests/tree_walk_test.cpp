// POSIX: the descriptor walk on a tree that changes under it. The tree is
// changed between two steps, which is exactly where another program could
// change it: the walk must never reach outside its starting folder, and it
// must say what it could not walk.
#ifndef _WIN32
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <vector>

#include "scan/tree_walk.h"
#include "tests/scan_fixture.h"
#include "tests/support/synth.h"

namespace {

namespace fs = std::filesystem;

class TreeWalkTest : public ScanFolderTest {
protected:
    // Walks from Path(), calling between(step) after each step, and returns
    // the steps as "event path" texts, paths relative to the root.
    std::vector<std::string> Walk(const std::function<void(const TreeStep&)>& between = nullptr) {
        static const char* const Names[] = {"enter", "leave", "file", "too-long", "problem"};
        static const char* const Problems[] = {"unlisted", "unopened", "replaced", "moved"};
        std::vector<std::string> steps;
        OpenTree(EntryForPath(Path().c_str()), TreeLimits{});
        TreeStep step;
        while (NextStep(&step)) {
            std::string text = Names[static_cast<int>(step.event)];
            if (step.event == TreeEvent::FolderProblem) text = Problems[static_cast<int>(step.problem)];
            const std::string path = step.entry.path;
            text += " " + (path.rfind(Path(), 0) == 0 ? path.substr(Path().size()) : "OUTSIDE " + path);
            steps.push_back(text);
            if (between) between(step);
        }
        return steps;
    }

    size_t Count(const std::vector<std::string>& steps, const std::string& prefix) const {
        return static_cast<size_t>(std::count_if(steps.begin(), steps.end(),
                                                 [&](const std::string& s) { return s.rfind(prefix, 0) == 0; }));
    }

    static bool Has(const std::vector<std::string>& steps, const std::string& step) {
        return std::find(steps.begin(), steps.end(), step) != steps.end();
    }
};

// The root is listed whole by the step after its entry; from then on the
// names are swapped: a folder for a link out of the tree, another for a
// different folder, a file for a link. Links, FIFOs and the swapped-in
// names are never walked, and nothing outside is reached.
TEST_F(TreeWalkTest, NamesSwappedAfterTheListingLeadNowhereOutside) {
    const fs::path outside = Path() + "-outside";
    fs::create_directories(outside / "deep");
    const synth::Bytes worm = synth::MakeWormCopy(0, 1).bytes;
    std::ofstream(outside / "deep" / "w.exe", std::ios::binary)
        .write(reinterpret_cast<const char*>(worm.data()), static_cast<std::streamsize>(worm.size()));
    MakeFolder("link-to");
    Write("link-to/a.bin", synth::MakeFile(synth::FileKind::Random, 10, 2));
    MakeFolder("other");
    Write("other/b.bin", synth::MakeFile(synth::FileKind::Random, 10, 3));
    Write("plain.bin", synth::MakeFile(synth::FileKind::Random, 10, 4));
    ASSERT_EQ(mkfifo(Path("pipe").c_str(), 0600), 0);
    fs::create_directory_symlink(outside, Path("already-a-link"));

    int stepCount = 0;
    const std::vector<std::string> steps = Walk([&](const TreeStep&) {
        if (++stepCount != 2) return;
        fs::rename(Path("link-to"), Path("link-to.real"));
        fs::create_directory_symlink(outside, Path("link-to"));
        fs::rename(Path("other"), Path("other.real"));
        fs::create_directories(Path("other"));
        Write("other/new.bin", synth::MakeFile(synth::FileKind::Random, 10, 5));
    });
    const std::string all = ::testing::PrintToString(steps);

    EXPECT_EQ(steps.front(), "enter /");
    EXPECT_EQ(steps.back(), "leave /");
    EXPECT_EQ(Count(steps, "enter "), Count(steps, "leave ")) << all;
    // The folder now a link: entered, not opened, left; never followed.
    EXPECT_TRUE(Has(steps, "enter /link-to/")) << all;
    EXPECT_TRUE(Has(steps, "unopened /link-to/")) << all;
    EXPECT_TRUE(Has(steps, "leave /link-to/")) << all;
    // The folder now another one: refused as replaced.
    EXPECT_TRUE(Has(steps, "replaced /other/")) << all;
    EXPECT_FALSE(Has(steps, "file /other/new.bin")) << all;
    EXPECT_FALSE(Has(steps, "file /other/b.bin")) << all;
    // Neither the swapped-in names, nor links, nor the FIFO.
    EXPECT_TRUE(Has(steps, "file /plain.bin")) << all;
    EXPECT_EQ(Count(steps, "file "), 1u) << all;
    EXPECT_EQ(Count(steps, "enter "), 3u) << all;
    EXPECT_EQ(Count(steps, "unopened "), 1u) << all;
    EXPECT_EQ(Count(steps, "replaced "), 1u) << all;
    for (const std::string& step : steps) EXPECT_EQ(step.find("OUTSIDE"), std::string::npos) << step;
    EXPECT_EQ(fs::file_size(outside / "deep" / "w.exe"), worm.size());
    fs::remove_all(outside);
}

// Deeper than the descriptors the walk keeps open: the levels further up
// are opened again through "..", and only while that is still the folder
// they were. A folder moved elsewhere during the walk ends the walk of
// what is left in the levels above it, and says so once.
TEST_F(TreeWalkTest, DeepTreeIsLeftThroughItsParentsUnlessAFolderMovedAway) {
    constexpr int Depth = 70;
    // Names differ from level to level, and each of the upper levels holds
    // files besides its subfolder, so that whatever order the file system
    // lists them in, some are all but certain to come after the subfolder.
    std::string chain;
    std::vector<std::string> levels;
    for (int i = 0; i < Depth; ++i) {
        chain += (chain.empty() ? "" : "/") + ("s" + std::to_string(i));
        levels.push_back(chain);
        MakeFolder(chain);
        for (int j = 0; j < 8 && i < 6; ++j) {
            Write(chain + "/late" + std::to_string(j) + ".bin", synth::MakeFile(synth::FileKind::Random, 10, 7));
        }
    }
    Write(chain + "/deepest.bin", synth::MakeFile(synth::FileKind::Random, 10, 6));

    const std::vector<std::string> whole = Walk();
    EXPECT_EQ(Count(whole, "enter "), static_cast<size_t>(Depth + 1));
    EXPECT_EQ(Count(whole, "leave "), static_cast<size_t>(Depth + 1));
    EXPECT_EQ(Count(whole, "file "), 49u);
    EXPECT_TRUE(Has(whole, "file /" + chain + "/deepest.bin"));
    EXPECT_EQ(whole.back(), "leave /");
    EXPECT_EQ(Count(whole, "moved "), 0u);

    // Which upper files the listing puts after the way down: those are
    // still to visit when the walk comes back up.
    std::vector<std::string> after;
    const auto deepest = std::find(whole.begin(), whole.end(), "file /" + chain + "/deepest.bin");
    for (auto it = deepest; it != whole.end(); ++it) {
        if (it->find("/late") != std::string::npos) after.push_back(*it);
    }
    if (after.empty()) GTEST_SKIP() << "this file system lists every upper file before the subfolder";

    // With the deepest file in hand, the folder seven levels down moves to
    // the root. Its parent, long closed, is not found through it again.
    const std::string seventh = levels[6];
    const std::vector<std::string> moved = Walk([&](const TreeStep& step) {
        if (step.event == TreeEvent::File && std::string(step.entry.path).find("deepest") != std::string::npos) {
            fs::rename(Path(seventh), Path("moved"));
        }
    });
    const std::string all = ::testing::PrintToString(moved);
    EXPECT_EQ(Count(moved, "moved "), 1u) << all;
    EXPECT_TRUE(Has(moved, "moved /" + levels[5] + "/")) << all;
    for (const std::string& file : after) EXPECT_FALSE(Has(moved, file)) << all;
    EXPECT_EQ(Count(moved, "enter "), Count(moved, "leave ")) << all;
    EXPECT_EQ(moved.back(), "leave /") << all;
}

}  // namespace
#endif
