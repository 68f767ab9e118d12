// The one view detection reads a file through: classification from the
// head read at offset 0, a checksummed region read and summed once, reads
// that stop at the end of the file, and memory and files treated alike.
#include <gtest/gtest.h>

#include <cstddef>
#include <cstdint>
#include <cstring>
#include <filesystem>
#include <system_error>
#include <vector>

#include "engine/crc32.h"
#include "engine/exe_headers.h"
#include "engine/file_view.h"
#include "tests/test_files.h"

#ifndef _WIN32
#include <fcntl.h>

#include "adapters/file_io_posix.h"
#endif

using testfiles::Bytes;
using testfiles::OpenedFile;
using testfiles::PeLayout;

namespace {

Bytes Pattern(size_t size, uint32_t seed) {
    Bytes data(size);
    uint32_t x = seed;
    for (uint8_t& b : data) {
        x = x * 1103515245u + 12345u;
        b = static_cast<uint8_t>(x >> 16);
    }
    return data;
}

uint32_t CrcOf(const Bytes& data, size_t offset, size_t length) {
    return Crc32Raw(data.data() + offset, static_cast<int32_t>(length));
}

TEST(FileView, RegionIsReadAndSummedOnce) {
    Bytes data = Pattern(40000, 1);
    FileView view;
    OpenMemoryView(&view, data.data(), data.size());
    const uint32_t before = CrcOf(data, 4096, 32768);
    const uint32_t innerBefore = CrcOf(data, 5000, 100);

    uint32_t crc = 0;
    ASSERT_TRUE(ViewRegionChecksum(&view, 4096, 32768, &crc));
    EXPECT_EQ(crc, before);
    // The source changes behind the view's back: what the view read once is
    // what every later row of the same file sees, so nothing was read again.
    for (size_t i = 4096; i < data.size(); ++i) data[i] ^= 0x5A;
    crc = 0;
    ASSERT_TRUE(ViewRegionChecksum(&view, 4096, 32768, &crc));
    EXPECT_EQ(crc, before);
    // Bytes inside the region come from the region buffer too...
    ASSERT_TRUE(ViewRegionChecksum(&view, 5000, 100, &crc));
    EXPECT_EQ(crc, innerBefore);
    uint8_t byte = 0;
    EXPECT_EQ(ViewReadAt(&view, 36863, &byte, 1), 1u);
    EXPECT_EQ(byte, static_cast<uint8_t>(data[36863] ^ 0x5A));
    // ...and bytes outside it from the source, as it is now.
    ASSERT_TRUE(ViewRegionChecksum(&view, 36864, 3000, &crc));
    EXPECT_EQ(crc, CrcOf(data, 36864, 3000));
}

TEST(FileView, RegionsStopAtTheEndOfTheFile) {
    const Bytes data = Pattern(36864, 2);
    OpenedFile file(data);
    ASSERT_TRUE(file.Ok());
    FileView view;
    OpenFileView(&view, file.Handle());
    ASSERT_TRUE(view.sizeKnown);
    EXPECT_EQ(view.size, 36864u);
    uint32_t crc = 7;
    // Ending exactly at the end: whole. One byte further: nothing.
    ASSERT_TRUE(ViewRegionChecksum(&view, 4096, 32768, &crc));
    EXPECT_EQ(crc, CrcOf(data, 4096, 32768));
    crc = 7;
    EXPECT_FALSE(ViewRegionChecksum(&view, 4097, 32768, &crc));
    EXPECT_EQ(crc, 7u);
    // A region across the head's end, and one inside the head.
    ASSERT_TRUE(ViewRegionChecksum(&view, 4000, 200, &crc));
    EXPECT_EQ(crc, CrcOf(data, 4000, 200));
    ASSERT_TRUE(ViewRegionChecksum(&view, 0, 4096, &crc));
    EXPECT_EQ(crc, CrcOf(data, 0, 4096));
    // Longer than the region buffer: still one exact checksum.
    ASSERT_TRUE(ViewRegionChecksum(&view, 1, 36000, &crc));
    EXPECT_EQ(crc, CrcOf(data, 1, 36000));
    // Length 0 gives 0 whatever the offset; offsets beyond the signed range
    // read nothing.
    ASSERT_TRUE(ViewRegionChecksum(&view, 0xFFFFFFF0u, 0, &crc));
    EXPECT_EQ(crc, 0u);
    EXPECT_FALSE(ViewRegionChecksum(&view, 0x7FFFFF00u, 0x200, &crc));
}

TEST(FileView, ReadsAreClearedAndClippedAtTheEnd) {
    const Bytes data = Pattern(5000, 3);
    OpenedFile file(data);
    ASSERT_TRUE(file.Ok());
    for (int source = 0; source < 2; ++source) {
        SCOPED_TRACE(source == 0 ? "file" : "memory");
        FileView view;
        if (source == 0) {
            OpenFileView(&view, file.Handle());
        } else {
            OpenMemoryView(&view, data.data(), data.size());
        }
        uint8_t buffer[16];
        // The last byte, then nothing at the end, before the start or past
        // the signed range; untouched bytes read as zeros every time.
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_EQ(ViewReadAt(&view, 4999, buffer, sizeof buffer), 1u);
        EXPECT_EQ(buffer[0], data[4999]);
        for (size_t i = 1; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0) << i;
        std::memset(buffer, 0xEE, sizeof buffer);
        EXPECT_EQ(ViewReadAt(&view, 5000, buffer, sizeof buffer), 0u);
        EXPECT_EQ(buffer[0], 0);
        for (const int64_t outside : {int64_t{-1}, int64_t{1} << 31}) {
            std::memset(buffer, 0xEE, sizeof buffer);
            EXPECT_EQ(ViewReadAt(&view, outside, buffer, sizeof buffer), 0u);
            for (size_t i = 0; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0) << outside << " " << i;
        }
        // Across the head's end (4096) and wholly behind it.
        EXPECT_EQ(ViewReadAt(&view, 4090, buffer, sizeof buffer), 16u);
        EXPECT_EQ(0, std::memcmp(buffer, data.data() + 4090, 16));
        EXPECT_EQ(ViewReadAt(&view, 4500, buffer, sizeof buffer), 16u);
        EXPECT_EQ(0, std::memcmp(buffer, data.data() + 4500, 16));
    }
}

// A file cut short after it was opened: the size known at open no longer
// holds, the read comes short, and what it could not fill reads as zeros.
// (Windows handles opened for reading let no writer in, so there the file
// cannot shrink under the view.)
#ifndef _WIN32
TEST(FileView, AReadCutShortByAShrunkenFileClearsTheRest) {
    const Bytes data = Pattern(9000, 4);
    OpenedFile file(data);
    ASSERT_TRUE(file.Ok());
    FileView view;
    OpenFileView(&view, file.Handle());
    ASSERT_EQ(view.size, 9000u);
    std::error_code error;
    std::filesystem::resize_file(file.Path(), 6000, error);
    ASSERT_FALSE(error) << error.message();
    std::vector<uint8_t> buffer(2000, 0xEE);
    EXPECT_EQ(ViewReadAt(&view, 5000, buffer.data(), 2000), 1000u);
    EXPECT_EQ(0, std::memcmp(buffer.data(), data.data() + 5000, 1000));
    for (size_t i = 1000; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0) << i;
    // Wholly past the new end: nothing read, all cleared.
    std::fill(buffer.begin(), buffer.end(), uint8_t{0xEE});
    EXPECT_EQ(ViewReadAt(&view, 7000, buffer.data(), 2000), 0u);
    for (size_t i = 0; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 0) << i;
}

// An open that asked no status (the first open of the POSIX walk) leaves the
// size unknown: the head is what one read brings, and every later read finds
// the end by itself, with the same results as where the size is known.
TEST(FileView, WithoutAKnownSizeTheEndIsFoundByReading) {
    for (const size_t size : {size_t{30}, size_t{4095}, size_t{36863}, size_t{36864}}) {
        SCOPED_TRACE(size);
        const Bytes data = Pattern(size, 5);
        OpenedFile file(data);
        ASSERT_TRUE(file.Ok());
        FileHandle unsized = FileOpenAt(AT_FDCWD, file.Path().c_str(), OpenMode::Read, 0, 0);
        ASSERT_NE(unsized, InvalidFileHandle);
        {
            FileView view;
            OpenFileView(&view, unsized);
            EXPECT_FALSE(view.sizeKnown);
            EXPECT_EQ(view.headLength, size < ViewHeadSize ? size : ViewHeadSize);
            EXPECT_EQ(0, std::memcmp(view.head, data.data(), view.headLength));
            uint32_t crc = 7;
            EXPECT_EQ(ViewRegionChecksum(&view, 4096, 32768, &crc), size >= 36864);
            EXPECT_EQ(crc, size >= 36864 ? CrcOf(data, 4096, 32768) : 7u);
            uint8_t buffer[8];
            std::memset(buffer, 0xEE, sizeof buffer);
            EXPECT_EQ(ViewReadAt(&view, static_cast<int64_t>(size) - 1, buffer, sizeof buffer), 1u);
            EXPECT_EQ(buffer[0], data[size - 1]);
            for (size_t i = 1; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0) << i;
            std::memset(buffer, 0xEE, sizeof buffer);
            EXPECT_EQ(ViewReadAt(&view, static_cast<int64_t>(size), buffer, sizeof buffer), 0u);
            for (size_t i = 0; i < sizeof buffer; ++i) EXPECT_EQ(buffer[i], 0) << i;
            // A region found short is not read again for the next row, even
            // should the file have grown meanwhile.
            if (size < 36864) {
                std::error_code error;
                std::filesystem::resize_file(file.Path(), 36864, error);
                ASSERT_FALSE(error);
                EXPECT_FALSE(ViewRegionChecksum(&view, 4096, 32768, &crc));
            }
        }
        FileClose(unsized);
    }
}
#endif

// PE headers that end exactly at the end of the head are taken from it;
// one byte further they are read on their own, with the same result, and
// cut short by the end of the file they make the file DOS.
TEST(FileView, PeHeadersAtAndPastTheHeadsEnd) {
    for (uint32_t lfanew : {ViewHeadSize - 288u, ViewHeadSize - 287u}) {
        SCOPED_TRACE(lfanew);
        PeLayout layout;
        layout.lfanew = lfanew;
        layout.sections = {{0x1000, 0x1000, 0x200, 0x1200}};
        const Bytes image = testfiles::BuildPe(layout);
        FileView view;
        OpenMemoryView(&view, image.data(), image.size());
        ASSERT_EQ(view.kind, static_cast<uint32_t>(KindPeImage));
        ASSERT_EQ(view.peHeaders.size, 288u);
        EXPECT_EQ(0, std::memcmp(view.peHeaders.data, image.data() + lfanew, 288));
        EXPECT_EQ(view.ownsPeHeaders, lfanew + 288u > ViewHeadSize);
        ASSERT_EQ(view.dosHeader.size, 64u);
        EXPECT_EQ(0, std::memcmp(view.dosHeader.data, image.data(), 64));

        // The same through a file, and the file cut one byte short.
        OpenedFile file(image);
        ASSERT_TRUE(file.Ok());
        FileView fromFile;
        OpenFileView(&fromFile, file.Handle());
        EXPECT_EQ(fromFile.kind, static_cast<uint32_t>(KindPeImage));
        const Bytes cut(image.begin(), image.begin() + static_cast<std::ptrdiff_t>(lfanew + 287));
        FileView shortView;
        OpenMemoryView(&shortView, cut.data(), cut.size());
        EXPECT_EQ(shortView.kind, static_cast<uint32_t>(KindDos));
        EXPECT_EQ(shortView.peHeaders.data, nullptr);
    }
}

TEST(FileView, ShortAndForeignHeads) {
    Bytes mz = testfiles::BuildMz(64, 0x40);
    FileView exact;
    OpenMemoryView(&exact, mz.data(), 64);
    EXPECT_EQ(exact.kind, static_cast<uint32_t>(KindDos));  // e_lfanew at the end: no signature
    FileView shorter;
    OpenMemoryView(&shorter, mz.data(), 63);
    EXPECT_EQ(shorter.kind, static_cast<uint32_t>(KindOther));
    EXPECT_EQ(shorter.dosHeader.data, nullptr);
    FileView empty;
    OpenMemoryView(&empty, nullptr, 0);
    EXPECT_EQ(empty.kind, static_cast<uint32_t>(KindOther));
    uint32_t crc = 0;
    EXPECT_FALSE(ViewRegionChecksum(&empty, 0, 1, &crc));
}

}  // namespace
