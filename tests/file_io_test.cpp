// File and memory primitives: open modes, transfer counts, the poisoned
// handle after a failed seek, and FillBytes' exact reach.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <memory>
#include <vector>

#include "engine/file_io.h"
#include "tests/test_files.h"

using testfiles::Bytes;
using testfiles::OpenedFile;
using testfiles::TempFile;

namespace {

Bytes Digits() { return testfiles::Text("0123456789"); }

}  // namespace

TEST(FileOpen, FailureIsTheInvalidHandle) {
    Bytes none;
    TempFile file(none);
    ASSERT_TRUE(file.Written());
    const std::string missing = file.Path() + ".missing";
    EXPECT_EQ(FileOpen(missing.c_str(), OpenMode::Read), InvalidFileHandle);
    EXPECT_EQ(FileOpen(missing.c_str(), OpenMode::ReadWrite), InvalidFileHandle);
    // A folder is not a file that can be scanned.
    const std::string folder = std::filesystem::temp_directory_path().string();
    FileHandle handle = FileOpen(folder.c_str(), OpenMode::Read);
    EXPECT_EQ(handle, InvalidFileHandle);
    if (handle != InvalidFileHandle) FileClose(handle);
}

TEST(FileOpen, OnlyAReadWriteOpenWrites) {
    const Bytes x = testfiles::Text("X");
    {
        OpenedFile file(Digits(), OpenMode::Read);
        ASSERT_TRUE(file.Ok());
        EXPECT_EQ(FileWrite(file.Handle(), x.data(), 1), 0u);
        uint8_t first = 0;
        FileSeek(file.Handle(), 0, SeekOrigin::Begin);
        EXPECT_EQ(FileRead(file.Handle(), &first, 1), 1u);
        EXPECT_EQ(first, '0');
        file.Close();
        EXPECT_EQ(file.ReadBack(), Digits());
    }
    OpenedFile file(Digits(), OpenMode::ReadWrite);
    ASSERT_TRUE(file.Ok());
    FileSeek(file.Handle(), 4, SeekOrigin::Begin);
    EXPECT_EQ(FileWrite(file.Handle(), x.data(), 1), 1u);
    file.Close();
    EXPECT_EQ(file.ReadBack(), testfiles::Text("0123X56789"));
}

TEST(FileClose, ReportsSuccess) {
    TempFile file(Digits());
    FileHandle handle = FileOpen(file.Path().c_str(), OpenMode::Read);
    ASSERT_NE(handle, InvalidFileHandle);
    EXPECT_NE(FileClose(handle), 0);
}

TEST(FileRead, CountIsWhatTheFileDelivers) {
    OpenedFile file(Digits());
    ASSERT_TRUE(file.Ok());
    uint8_t buffer[64] = {};
    FileSeek(file.Handle(), 0, SeekOrigin::Begin);
    EXPECT_EQ(FileRead(file.Handle(), buffer, 64), 10u);
    EXPECT_EQ(Bytes(buffer, buffer + 10), Digits());
    // At the end of the file nothing more comes.
    EXPECT_EQ(FileRead(file.Handle(), buffer, 64), 0u);
    // Exactly up to the end, and one byte past it.
    FileSeek(file.Handle(), 6, SeekOrigin::Begin);
    EXPECT_EQ(FileRead(file.Handle(), buffer, 4), 4u);
    FileSeek(file.Handle(), 6, SeekOrigin::Begin);
    EXPECT_EQ(FileRead(file.Handle(), buffer, 5), 4u);
    // A position beyond the end is allowed; reading there gives nothing.
    FileSeek(file.Handle(), 1000, SeekOrigin::Begin);
    EXPECT_EQ(FileRead(file.Handle(), buffer, 1), 0u);
}

TEST(FileSeek, OriginsBeginCurrentEnd) {
    OpenedFile file(Digits());
    ASSERT_TRUE(file.Ok());
    uint8_t byte = 0;
    FileSeek(file.Handle(), 3, SeekOrigin::Begin);
    ASSERT_EQ(FileRead(file.Handle(), &byte, 1), 1u);
    EXPECT_EQ(byte, '3');
    FileSeek(file.Handle(), 2, SeekOrigin::Current);  // 4 + 2
    ASSERT_EQ(FileRead(file.Handle(), &byte, 1), 1u);
    EXPECT_EQ(byte, '6');
    FileSeek(file.Handle(), -5, SeekOrigin::Current);  // 7 - 5
    ASSERT_EQ(FileRead(file.Handle(), &byte, 1), 1u);
    EXPECT_EQ(byte, '2');
    FileSeek(file.Handle(), -1, SeekOrigin::End);
    ASSERT_EQ(FileRead(file.Handle(), &byte, 1), 1u);
    EXPECT_EQ(byte, '9');
    FileSeek(file.Handle(), -10, SeekOrigin::End);  // exactly the start
    ASSERT_EQ(FileRead(file.Handle(), &byte, 1), 1u);
    EXPECT_EQ(byte, '0');
}

TEST(FileSeek, FailedSeekStopsTheNextReadUntilASeekSucceeds) {
    OpenedFile file(Digits());
    ASSERT_TRUE(file.Ok());
    uint8_t buffer[4] = {};
    FileSeek(file.Handle(), 2, SeekOrigin::Begin);
    FileSeek(file.Handle(), -5, SeekOrigin::Begin);
    EXPECT_EQ(FileRead(file.Handle(), buffer, 4), 0u);
    EXPECT_EQ(FileRead(file.Handle(), buffer, 4), 0u);  // still poisoned
    FileSeek(file.Handle(), 5, SeekOrigin::Begin);
    ASSERT_EQ(FileRead(file.Handle(), buffer, 1), 1u);
    EXPECT_EQ(buffer[0], '5');

    FileSeek(file.Handle(), 0, static_cast<SeekOrigin>(7));  // unknown origin
    EXPECT_EQ(FileRead(file.Handle(), buffer, 4), 0u);
    FileSeek(file.Handle(), 1, SeekOrigin::Current);  // a relative seek that succeeds restores transfers
    EXPECT_EQ(FileRead(file.Handle(), buffer, 1), 1u);

    FileSeek(file.Handle(), -11, SeekOrigin::End);  // one before the start, measured from the end
    EXPECT_EQ(FileRead(file.Handle(), buffer, 4), 0u);
    FileSeek(file.Handle(), 0, SeekOrigin::Begin);
    ASSERT_EQ(FileRead(file.Handle(), buffer, 1), 1u);
    EXPECT_EQ(buffer[0], '0');
}

TEST(FileSeek, FailedSeekStopsTheNextWrite) {
    const Bytes x = testfiles::Text("XY");
    OpenedFile file(Digits(), OpenMode::ReadWrite);
    ASSERT_TRUE(file.Ok());
    FileSeek(file.Handle(), 3, SeekOrigin::Begin);
    FileSeek(file.Handle(), -5, SeekOrigin::Begin);
    EXPECT_EQ(FileWrite(file.Handle(), x.data(), 2), 0u);
    FileSeek(file.Handle(), 0, static_cast<SeekOrigin>(9));
    EXPECT_EQ(FileWrite(file.Handle(), x.data(), 2), 0u);
    FileSeek(file.Handle(), 8, SeekOrigin::Begin);
    EXPECT_EQ(FileWrite(file.Handle(), x.data(), 2), 2u);
    file.Close();
    EXPECT_EQ(file.ReadBack(), testfiles::Text("01234567XY"));
}

TEST(FileSize, NowAndAtOpenReportTheSize) {
    for (uint32_t size : {0u, 1u, 4097u}) {
        SCOPED_TRACE(size);
        OpenedFile file(Bytes(size, 0xAB));
        ASSERT_TRUE(file.Ok());
        uint32_t now = 0xDEADBEEF;
        uint32_t atOpen = 0xDEADBEEF;
        EXPECT_TRUE(FileGetSize(file.Handle(), &now));
        EXPECT_TRUE(FileSizeAtOpen(file.Handle(), &atOpen));
        EXPECT_EQ(now, size);
        EXPECT_EQ(atOpen, size);
    }
    uint32_t untouched = 5;
    EXPECT_FALSE(FileSizeAtOpen(InvalidFileHandle, &untouched));
    EXPECT_EQ(untouched, 5u);
}

// Each handle keeps its own position, reads and writes move it by what they
// transferred, and many handles may be open at once (more than the few the
// scan needs, which the POSIX primitives keep outside the heap).
TEST(FilePositions, EachHandleKeepsItsOwnPosition) {
    std::vector<std::unique_ptr<OpenedFile>> files;
    for (int i = 0; i < 9; ++i) {
        files.push_back(std::make_unique<OpenedFile>(Digits()));
        ASSERT_TRUE(files.back()->Ok());
    }
    uint8_t byte = 0;
    for (size_t i = 0; i < files.size(); ++i) {
        FileSeek(files[i]->Handle(), static_cast<int32_t>(i), SeekOrigin::Begin);
    }
    // Closing some and opening others in their place disturbs nobody.
    files[1]->Close();
    files[6]->Close();
    OpenedFile late(testfiles::Text("abcdef"));
    ASSERT_TRUE(late.Ok());
    for (size_t i = 0; i < files.size(); ++i) {
        if (i == 1 || i == 6) continue;
        ASSERT_EQ(FileRead(files[i]->Handle(), &byte, 1), 1u) << i;
        EXPECT_EQ(byte, '0' + i) << i;
    }
    ASSERT_EQ(FileRead(late.Handle(), &byte, 1), 1u);
    EXPECT_EQ(byte, 'a');

    // On one read/write handle: read 3, write 2 where the read ended, then
    // a relative seek from where the write ended.
    OpenedFile both(Digits(), OpenMode::ReadWrite);
    ASSERT_TRUE(both.Ok());
    uint8_t three[3] = {};
    ASSERT_EQ(FileRead(both.Handle(), three, 3), 3u);
    const Bytes xy = testfiles::Text("XY");
    ASSERT_EQ(FileWrite(both.Handle(), xy.data(), 2), 2u);
    FileSeek(both.Handle(), 1, SeekOrigin::Current);
    ASSERT_EQ(FileRead(both.Handle(), &byte, 1), 1u);
    EXPECT_EQ(byte, '6');
    // A read at the end delivers nothing and leaves the position alone.
    FileSeek(both.Handle(), 0, SeekOrigin::End);
    EXPECT_EQ(FileRead(both.Handle(), &byte, 1), 0u);
    FileSeek(both.Handle(), -1, SeekOrigin::Current);
    ASSERT_EQ(FileRead(both.Handle(), &byte, 1), 1u);
    EXPECT_EQ(byte, '9');
    both.Close();
    EXPECT_EQ(both.ReadBack(), testfiles::Text("012XY56789"));
}

TEST(BlockAlloc, BlockIsUsableAndFreed) {
    auto* block = static_cast<uint8_t*>(BlockAlloc(1024));
    ASSERT_NE(block, nullptr);
    FillBytes(block, 0x5A, 1024);
    EXPECT_EQ(block[0], 0x5A);
    EXPECT_EQ(block[1023], 0x5A);
    BlockFree(block);
}

TEST(FillBytes, TouchesExactlyCountBytes) {
    for (uint32_t count : {0u, 1u, 3u, 4u, 5u, 7u, 8u}) {
        SCOPED_TRACE(count);
        uint8_t buffer[16];
        for (uint8_t& b : buffer) b = 0xEE;
        // Start one byte in, so word stores cannot rely on alignment.
        EXPECT_EQ(FillBytes(buffer + 1, 0xA5, count), buffer + 1);
        EXPECT_EQ(buffer[0], 0xEE);
        for (uint32_t i = 0; i < count; ++i) EXPECT_EQ(buffer[1 + i], 0xA5) << "byte " << i;
        for (uint32_t i = 1 + count; i < 16; ++i) EXPECT_EQ(buffer[i], 0xEE) << "guard " << i;
    }
}

TEST(FillBytes, ClearsAWholeBuffer) {
    Bytes buffer(1024 + 4, 0xFF);
    FillBytes(buffer.data(), 0, 1024);
    for (size_t i = 0; i < 1024; ++i) ASSERT_EQ(buffer[i], 0) << i;
    for (size_t i = 1024; i < buffer.size(); ++i) EXPECT_EQ(buffer[i], 0xFF) << i;
}
