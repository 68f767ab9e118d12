// The copy made of a file in use: every byte of the file, whatever its size,
// under a name that nothing held before.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "scan/fs.h"
#include "tests/scan_fixture.h"

namespace {

class CopyFileTest : public ScanFolderTest {};

// Sizes around the copy's 64 KiB transfers, and one of several: a copy
// that stopped after its first transfer, or lost the tail of its last,
// would come out short while the file it replaces at the restart is whole.
TEST_F(CopyFileTest, CopiesEveryByteAndNeverReplacesATarget) {
    constexpr uint32_t Chunk = 65536;
    for (const uint32_t size : {0u, 1u, Chunk - 1, Chunk, Chunk + 1, 3 * Chunk + 17}) {
        SCOPED_TRACE(size);
        std::vector<uint8_t> bytes(size);
        // No two transfers alike, so that a chunk written twice shows.
        for (uint32_t i = 0; i < size; ++i) bytes[i] = static_cast<uint8_t>((i * 7) ^ (i >> 16) ^ (i >> 8));
        Write("in.exe", bytes);
        ASSERT_TRUE(CopyFileNew(Path("in.exe").c_str(), Path("copy.exe").c_str()));
        const std::vector<uint8_t> copy = Read("copy.exe");
        EXPECT_EQ(copy.size(), size);
        EXPECT_TRUE(copy == bytes) << "the copy's bytes differ from the file's";
        EXPECT_TRUE(Read("in.exe") == bytes) << "the file was changed";

        // A name that is taken is left as it is.
        Write("taken.exe", {1, 2, 3});
        EXPECT_FALSE(CopyFileNew(Path("in.exe").c_str(), Path("taken.exe").c_str()));
        EXPECT_EQ(Read("taken.exe"), (std::vector<uint8_t>{1, 2, 3}));
        std::filesystem::remove(Path("copy.exe"));
    }
    EXPECT_FALSE(CopyFileNew(Path("missing.exe").c_str(), Path("copy.exe").c_str()));
    EXPECT_FALSE(Exists("copy.exe"));
}

}  // namespace
