// POSIX: the per-file operations on a file handed over by name within an open folder
// act on that very file or not at all, whatever the path now leads to.
#ifndef _WIN32
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cerrno>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>

#include "scan/fs.h"

namespace fs = std::filesystem;

namespace {

void Write(const fs::path& path, const std::string& text, mode_t mode) {
    std::ofstream(path, std::ios::binary) << text;
    chmod(path.c_str(), mode);
}

std::string Read(FileHandle file) {
    char buffer[16] = {};
    const uint32_t n = FileRead(file, buffer, sizeof buffer - 1);
    return std::string(buffer, n);
}

mode_t Mode(const fs::path& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return info.st_mode & 07777;
}

struct Identity {
    uint64_t device;
    uint64_t inode;
};

Identity Of(const fs::path& path) {
    struct stat info {};
    lstat(path.c_str(), &info);
    return {static_cast<uint64_t>(info.st_dev), static_cast<uint64_t>(info.st_ino)};
}

class HandledEntryTest : public ::testing::Test {
protected:
    void SetUp() override {
        root = fs::temp_directory_path() / ("velmora-handled-" + std::to_string(getpid()));
        fs::remove_all(root);
        fs::create_directories(root / "tree");
        fs::create_directories(root / "outside");
        Write(root / "tree" / "a", "A", 0444);
        Write(root / "tree" / "b", "B", 0644);
        Write(root / "outside" / "a", "O", 0444);
        folder = open((root / "tree").c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        ASSERT_GE(folder, 0);
        rowText = (root / "tree" / "a").string();
        const Identity a = Of(root / "tree" / "a");
        entry = HandledEntry{rowText.c_str(), folder, "a", a.device, a.inode};
    }
    void TearDown() override {
        if (folder >= 0) close(folder);
        fs::remove_all(root);
    }
    // The name holds another regular file of the tree: nothing acts on it.
    void ExpectStepsRefusedForAnotherFile() {
        errno = 0;
        EXPECT_EQ(OpenHandledFile(&entry, OpenMode::ReadWrite), InvalidFileHandle);
        EXPECT_EQ(errno, ESTALE);
        EXPECT_FALSE(ClearAttributes(entry));
        EXPECT_FALSE(DeleteHandledFile(entry));
        EXPECT_TRUE(fs::exists(root / "tree" / "a"));
    }
    void ExpectOutsideUntouched() {
        std::ifstream in(root / "outside" / "a");
        std::string text;
        in >> text;
        EXPECT_EQ(text, "O");
        EXPECT_EQ(Mode(root / "outside" / "a"), 0444u);
    }
    fs::path root;
    int folder = -1;
    std::string rowText;
    HandledEntry entry;
};

TEST_F(HandledEntryTest, NameSwappedForALinkOrAnotherFileIsLeftAlone) {
    FileHandle file = OpenHandledFile(&entry, OpenMode::Read);
    ASSERT_NE(file, InvalidFileHandle);
    EXPECT_EQ(Read(file), "A");
    FileClose(file);

    // The name now a link to a file outside the tree.
    fs::rename(root / "tree" / "a", root / "tree" / "a.saved");
    fs::create_symlink(root / "outside" / "a", root / "tree" / "a");
    EXPECT_EQ(OpenHandledFile(&entry, OpenMode::Read), InvalidFileHandle);
    EXPECT_EQ(OpenHandledFile(&entry, OpenMode::ReadWrite), InvalidFileHandle);
    EXPECT_FALSE(ClearAttributes(entry));
    EXPECT_FALSE(DeleteHandledFile(entry));
    EXPECT_TRUE(fs::is_symlink(root / "tree" / "a"));
    ExpectOutsideUntouched();

    // The name now another file of the tree, never examined.
    fs::remove(root / "tree" / "a");
    fs::rename(root / "tree" / "b", root / "tree" / "a");
    ExpectStepsRefusedForAnotherFile();

    // The examined file back under its name: every operation goes through.
    fs::rename(root / "tree" / "a", root / "tree" / "b");
    fs::rename(root / "tree" / "a.saved", root / "tree" / "a");
    EXPECT_TRUE(ClearAttributes(entry));
    EXPECT_EQ(Mode(root / "tree" / "a") & 0600u, 0600u);
    file = OpenHandledFile(&entry, OpenMode::ReadWrite);
    ASSERT_NE(file, InvalidFileHandle);
    FileClose(file);
    EXPECT_TRUE(DeleteHandledFile(entry));
    EXPECT_FALSE(fs::exists(root / "tree" / "a"));
    EXPECT_TRUE(fs::exists(root / "tree" / "b"));
    ExpectOutsideUntouched();
}

TEST_F(HandledEntryTest, FolderSwappedForALinkStillMeansTheOpenFolder) {
    // The row's path now leads outside; the operations stay in the folder
    // that was opened.
    fs::rename(root / "tree", root / "tree.real");
    fs::create_directory_symlink(root / "outside", root / "tree");
    EXPECT_TRUE(ClearAttributes(entry));
    FileHandle file = OpenHandledFile(&entry, OpenMode::Read);
    ASSERT_NE(file, InvalidFileHandle);
    EXPECT_EQ(Read(file), "A");
    FileClose(file);
    EXPECT_TRUE(DeleteHandledFile(entry));
    EXPECT_FALSE(fs::exists(root / "tree.real" / "a"));
    ExpectOutsideUntouched();
    // An entry reached by path is resolved as given.
    HandledEntry byPath = EntryForPath(rowText.c_str());
    file = OpenHandledFile(&byPath, OpenMode::Read);
    ASSERT_NE(file, InvalidFileHandle);
    EXPECT_EQ(Read(file), "O");
    FileClose(file);
}

// An entry listed without its identity: the first, read-only open asks no
// status; a finding pins the identity of what that open read, and every
// later step must meet that file. A name swapped for a FIFO is read without
// blocking, gives nothing and cannot be pinned.
TEST_F(HandledEntryTest, IdentityTakenFromTheExaminedFileOnlyAfterAFinding) {
    entry = HandledEntry{rowText.c_str(), folder, "a", 0, 0};
    FileHandle file = OpenHandledFile(&entry, OpenMode::Read);
    ASSERT_NE(file, InvalidFileHandle);
    EXPECT_EQ(Read(file), "A");
    uint32_t size = 7;
    EXPECT_FALSE(FileSizeAtOpen(file, &size));  // no status was asked
    EXPECT_TRUE(FileGetSize(file, &size));
    EXPECT_EQ(size, 1u);
    // The name is swapped while the file is still open: the pin takes the
    // examined file, not what the name holds now.
    fs::rename(root / "tree" / "a", root / "tree" / "a.saved");
    fs::rename(root / "tree" / "b", root / "tree" / "a");
    EXPECT_TRUE(PinExaminedFile(&entry, file));
    FileClose(file);
    ExpectStepsRefusedForAnotherFile();
    // The examined file back: the steps go through, and pinning again is a
    // no-op that keeps the identity.
    fs::rename(root / "tree" / "a", root / "tree" / "b");
    fs::rename(root / "tree" / "a.saved", root / "tree" / "a");
    file = OpenHandledFile(&entry, OpenMode::Read);
    ASSERT_NE(file, InvalidFileHandle);
    EXPECT_TRUE(FileSizeAtOpen(file, &size));  // identity known: checked with a status call
    EXPECT_TRUE(PinExaminedFile(&entry, file));
    FileClose(file);
    EXPECT_TRUE(DeleteHandledFile(entry));
    EXPECT_TRUE(fs::exists(root / "tree" / "b"));

    // A FIFO under a name listed as a regular file.
    ASSERT_EQ(mkfifo((root / "tree" / "a").c_str(), 0644), 0);
    entry = HandledEntry{rowText.c_str(), folder, "a", 0, 0};
    file = OpenHandledFile(&entry, OpenMode::Read);
    ASSERT_NE(file, InvalidFileHandle);
    EXPECT_EQ(Read(file), "");
    errno = 0;
    EXPECT_FALSE(PinExaminedFile(&entry, file));
    EXPECT_EQ(errno, ESTALE);
    FileClose(file);
    EXPECT_FALSE(DeleteHandledFile(entry));
    // An entry reached by path has nothing to pin.
    HandledEntry byPath = EntryForPath(rowText.c_str());
    EXPECT_TRUE(PinExaminedFile(&byPath, InvalidFileHandle));
    ExpectOutsideUntouched();
}

}  // namespace
#endif
