// Classification of scanned files by their headers, the hand-over of the
// header buffers, and the mapping of PE addresses to file offsets.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>

#include "engine/exe_headers.h"
#include "engine/file_io.h"
#include "engine/file_view.h"
#include "tests/test_files.h"

using testfiles::Bytes;
using testfiles::OpenedFile;
using testfiles::PeLayout;
using testfiles::Section;

namespace {

// Header buffers that are released however the test ends.
struct Headers {
    ByteBlock dos;
    ByteBlock pe;
    Headers() = default;
    Headers(const Headers&) = delete;
    Headers& operator=(const Headers&) = delete;
    ~Headers() { ReleaseHeaders(&dos, &pe); }
};

struct Classified {
    bool opened = false;
    uint32_t kind = 0xFFFFFFFFu;
};

Classified Classify(const Bytes& image, Headers* headers) {
    OpenedFile file(image);
    Classified result;
    result.opened = file.Ok();
    if (result.opened) result.kind = ClassifyExecutable(file.Handle(), &headers->dos, &headers->pe);
    return result;
}

PeLayout TwoSectionLayout() {
    PeLayout layout;
    layout.lfanew = 0x80;
    layout.sections = {{0x1000, 0x200, 0x200, 0x200}, {0x2000, 0x200, 0x200, 0x400}};
    return layout;
}

// The peHeaders of the worked mapping example: sections at 0x1000 and 0x2000.
Bytes ExampleHeaders() {
    PeLayout layout;
    layout.sections = {{0x1000, 0x500, 0x400, 0x400}, {0x2000, 0x100, 0x100, 0x800}};
    return testfiles::BuildPeHeaders(layout);
}

ByteBlock BlockOver(Bytes& bytes, uint32_t size) {
    ByteBlock block;
    block.data = bytes.data();
    block.size = size;
    return block;
}

}  // namespace

TEST(ClassifyExecutable, ShortOrForeignFilesAreOther) {
    Bytes mz = testfiles::BuildMz(64, 0);
    Bytes mz63(mz.begin(), mz.begin() + 63);
    {
        Headers h;
        const Classified c = Classify(mz63, &h);
        ASSERT_TRUE(c.opened);
        EXPECT_EQ(c.kind, uint32_t{KindOther});
        EXPECT_EQ(h.dos.data, nullptr);
        EXPECT_EQ(h.pe.data, nullptr);
    }
    {
        Headers h;
        // 64 bytes are enough for a DOS header; e_lfanew 0 meets no new header.
        EXPECT_EQ(Classify(mz, &h).kind, uint32_t{KindDos});
        ASSERT_NE(h.dos.data, nullptr);
        EXPECT_EQ(h.dos.size, DosHeaderSize);
        EXPECT_EQ(Bytes(h.dos.data, h.dos.data + 64), mz);
        EXPECT_EQ(h.pe.data, nullptr);
    }
    for (const char* magic : {"MM", "mz", "PE", "\x5A\x4E"}) {
        SCOPED_TRACE(magic);
        Bytes image = testfiles::BuildPe(TwoSectionLayout());
        image[0] = static_cast<uint8_t>(magic[0]);
        image[1] = static_cast<uint8_t>(magic[1]);
        Headers h;
        EXPECT_EQ(Classify(image, &h).kind, uint32_t{KindOther});
        EXPECT_EQ(h.dos.data, nullptr);
        EXPECT_EQ(h.pe.data, nullptr);
    }
}

TEST(ClassifyExecutable, OutputsAreEmptiedOnEntry) {
    uint8_t notHeap[4] = {};
    Headers h;
    h.dos.data = notHeap;
    h.dos.size = 77;
    h.pe.data = notHeap;
    h.pe.size = 99;
    EXPECT_EQ(Classify(Bytes(10, 0), &h).kind, uint32_t{KindOther});
    EXPECT_EQ(h.dos.data, nullptr);
    EXPECT_EQ(h.dos.size, 0u);
    EXPECT_EQ(h.pe.data, nullptr);
    EXPECT_EQ(h.pe.size, 0u);
    // Never hand a non-heap pointer to the release in ~Headers.
    if (h.dos.data == notHeap) h.dos = ByteBlock{};
    if (h.pe.data == notHeap) h.pe = ByteBlock{};
}

TEST(ClassifyExecutable, ZmIsDosWithoutLookingFurther) {
    // Behind ZM lies a complete PE image that must not be looked at.
    Bytes image = testfiles::BuildPe(TwoSectionLayout());
    image[0] = 'Z';
    image[1] = 'M';
    Headers h;
    EXPECT_EQ(Classify(image, &h).kind, uint32_t{KindDos});
    ASSERT_NE(h.dos.data, nullptr);
    EXPECT_EQ(h.dos.data[0], 'Z');
    EXPECT_EQ(h.pe.data, nullptr);
}

TEST(ClassifyExecutable, NewHeaderSignatureNeedsAllFourBytes) {
    struct Case {
        const char* name;
        Bytes signature;
        uint32_t kind;
        bool dosHandedOver;
    };
    const Case cases[] = {
        {"NE", {'N', 'E', 0, 0}, KindNe, false},
        {"NE 01 00", {'N', 'E', 1, 0}, KindDos, true},
        {"NE 00 01", {'N', 'E', 0, 1}, KindDos, true},
        {"LE", {'L', 'E', 0, 0}, KindLe, false},
        {"LE 00 80", {'L', 'E', 0, 0x80}, KindDos, true},
        {"LX", {'L', 'X', 0, 0}, KindDos, true},
        {"PE 00 01", {'P', 'E', 0, 1}, KindDos, true},
        {"EP", {'E', 'P', 0, 0}, KindDos, true},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        Bytes image = testfiles::BuildMz(0x100, 0x80);
        testfiles::PutBytes(image, 0x80, c.signature);
        Headers h;
        EXPECT_EQ(Classify(image, &h).kind, c.kind);
        EXPECT_EQ(h.dos.data != nullptr, c.dosHandedOver);
        EXPECT_EQ(h.pe.data, nullptr);
    }
}

TEST(ClassifyExecutable, NewHeaderAtTheEndOfTheFile) {
    // Signature exactly in the last four bytes, then one byte cut off.
    Bytes image = testfiles::BuildMz(0x84, 0x80);
    testfiles::PutBytes(image, 0x80, {'N', 'E', 0, 0});
    {
        Headers h;
        EXPECT_EQ(Classify(image, &h).kind, uint32_t{KindNe});
    }
    image.pop_back();  // e_lfanew now lies at EOF - 3
    {
        Headers h;
        EXPECT_EQ(Classify(image, &h).kind, uint32_t{KindDos});
        EXPECT_NE(h.dos.data, nullptr);
    }
}

TEST(ClassifyExecutable, HostileLfanewGivesDos) {
    // A complete PE header sits right behind the DOS header at offset 64,
    // where a read after a failed seek would land.
    PeLayout layout = TwoSectionLayout();
    layout.lfanew = 64;
    const Bytes pe = testfiles::BuildPe(layout);
    {
        Headers h;
        EXPECT_EQ(Classify(pe, &h).kind, uint32_t{KindPeImage});
    }
    for (uint32_t lfanew : {0xFFFFFFC0u, 0xFFFFFFFFu, 0x80000000u, 0x7FFFFFFFu, 0x10000u}) {
        SCOPED_TRACE(lfanew);
        Bytes image = pe;
        testfiles::PutLe32(image, 60, lfanew);
        Headers h;
        EXPECT_EQ(Classify(image, &h).kind, uint32_t{KindDos});
        EXPECT_NE(h.dos.data, nullptr);
        EXPECT_EQ(h.pe.data, nullptr);
    }
}

TEST(ClassifyExecutable, PeHeadersAreReadFromLfanewWithFixedLayout) {
    PeLayout layout;
    layout.sections = {{0x1000, 0x10, 0x10, 0x400}, {0x2000, 0x10, 0x10, 0x410}, {0x3000, 0x10, 0x10, 0x420}};
    for (uint16_t optional : {uint16_t{224}, uint16_t{0}, uint16_t{96}, uint16_t{0xFFFF}}) {
        SCOPED_TRACE(optional);
        layout.sizeOfOptionalHeader = optional;
        const Bytes image = testfiles::BuildPe(layout);
        Headers h;
        EXPECT_EQ(Classify(image, &h).kind, uint32_t{KindPeImage});
        ASSERT_NE(h.dos.data, nullptr);
        EXPECT_EQ(h.dos.size, 64u);
        ASSERT_NE(h.pe.data, nullptr);
        ASSERT_EQ(h.pe.size, 368u);
        EXPECT_EQ(Bytes(h.pe.data, h.pe.data + 368), Bytes(image.begin() + 0x80, image.begin() + 0x80 + 368));
    }
}

TEST(ClassifyExecutable, SectionTableCutShortIsDos) {
    PeLayout layout;
    layout.sections = {{0x1000, 0x10, 0, 0}, {0x2000, 0x10, 0, 0}};  // no raw data
    Bytes image = testfiles::BuildPe(layout);
    ASSERT_EQ(image.size(), 0x80u + 328u);
    {
        Headers h;
        EXPECT_EQ(Classify(image, &h).kind, uint32_t{KindPeImage});
        EXPECT_EQ(h.pe.size, 328u);
    }
    image.pop_back();
    {
        Headers h;
        EXPECT_EQ(Classify(image, &h).kind, uint32_t{KindDos});
        EXPECT_NE(h.dos.data, nullptr);
        EXPECT_EQ(h.pe.data, nullptr);
    }
    // The 20-byte file header itself cut short.
    image.resize(0x80 + 23);
    {
        Headers h;
        EXPECT_EQ(Classify(image, &h).kind, uint32_t{KindDos});
        EXPECT_EQ(h.pe.data, nullptr);
    }
}

TEST(ClassifyExecutable, HugeSectionCountInAShortFile) {
    Bytes image = testfiles::BuildPe(TwoSectionLayout());
    testfiles::PutLe16(image, 0x80 + 6, 0xFFFF);
    Headers h;
    EXPECT_EQ(Classify(image, &h).kind, uint32_t{KindDos});
    EXPECT_EQ(h.pe.data, nullptr);
}

TEST(ClassifyExecutable, DllFlagDecidesImageOrDll) {
    struct Case {
        uint16_t characteristics;
        uint32_t kind;
    };
    for (const Case& c : {Case{0x0102, KindPeImage}, Case{0xDFFF, KindPeImage}, Case{0x2000, KindPeDll},
                          Case{0x2102, KindPeDll}}) {
        SCOPED_TRACE(c.characteristics);
        PeLayout layout = TwoSectionLayout();
        layout.characteristics = c.characteristics;
        Headers h;
        EXPECT_EQ(Classify(testfiles::BuildPe(layout), &h).kind, c.kind);
        EXPECT_NE(h.dos.data, nullptr);
        EXPECT_NE(h.pe.data, nullptr);
        EXPECT_EQ(h.pe.size, 328u);
    }
}

TEST(ClassifyExecutable, StartsFromTheBeginningWhateverThePosition) {
    OpenedFile file(testfiles::BuildPe(TwoSectionLayout()));
    ASSERT_TRUE(file.Ok());
    Headers h;
    FileSeek(file.Handle(), 0x100, SeekOrigin::Begin);
    EXPECT_EQ(ClassifyExecutable(file.Handle(), &h.dos, &h.pe), uint32_t{KindPeImage});
    ReleaseHeaders(&h.dos, &h.pe);
    FileSeek(file.Handle(), -1, SeekOrigin::Begin);  // a poisoned handle recovers through the first seek
    EXPECT_EQ(ClassifyExecutable(file.Handle(), &h.dos, &h.pe), uint32_t{KindPeImage});
}

TEST(ReadExecutableHeaders, MaskDecidesWhoOwnsTheBuffers) {
    PeLayout dll = TwoSectionLayout();
    dll.characteristics = 0x2102;
    struct Case {
        const char* name;
        Bytes image;
        uint32_t mask;
        bool accepted;
    };
    const Case cases[] = {
        {"image, mask 4", testfiles::BuildPe(TwoSectionLayout()), 4, true},
        {"dll, mask 4", testfiles::BuildPe(dll), 4, false},
        {"dll, mask 8", testfiles::BuildPe(dll), 8, true},
        {"dll, mask 12", testfiles::BuildPe(dll), 12, true},
        {"dos, mask 4", testfiles::BuildMz(64, 0), 4, false},
        {"dos, mask 2", testfiles::BuildMz(64, 0), 2, true},
        {"other, mask 4", Bytes(10, 0), 4, false},
        {"other, mask 1", Bytes(10, 0), 1, true},
        {"image, mask 0", testfiles::BuildPe(TwoSectionLayout()), 0, false},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.name);
        OpenedFile file(c.image);
        ASSERT_TRUE(file.Ok());
        Headers h;
        EXPECT_EQ(ReadExecutableHeaders(c.mask, file.Handle(), &h.dos, &h.pe), c.accepted);
        if (!c.accepted) {
            EXPECT_EQ(h.dos.data, nullptr);
            EXPECT_EQ(h.pe.data, nullptr);
        }
    }
}

TEST(ReadExecutableHeaders, AcceptedImageHandsOverBothBuffers) {
    const Bytes image = testfiles::BuildPe(TwoSectionLayout());
    OpenedFile file(image);
    ASSERT_TRUE(file.Ok());
    Headers h;
    ASSERT_TRUE(ReadExecutableHeaders(KindPeImage, file.Handle(), &h.dos, &h.pe));
    ASSERT_NE(h.dos.data, nullptr);
    ASSERT_NE(h.pe.data, nullptr);
    EXPECT_EQ(h.dos.size, 64u);
    EXPECT_EQ(h.pe.size, 328u);
    int32_t lfanew = 0;
    ASSERT_TRUE(DosLfanew(h.dos, &lfanew));
    EXPECT_EQ(lfanew, 0x80);
    uint32_t entry = 0;
    ASSERT_TRUE(PeEntryPoint(h.pe, &entry));
    EXPECT_EQ(entry, 0x1000u);
    ReleaseHeaders(&h.dos, &h.pe);
    EXPECT_EQ(h.dos.data, nullptr);
    EXPECT_EQ(h.dos.size, 0u);
    EXPECT_EQ(h.pe.data, nullptr);
    EXPECT_EQ(h.pe.size, 0u);
}

TEST(HeaderFields, ReadsStopAtTheBlockSize) {
    Bytes dos = testfiles::BuildMz(64, 0xFFFFFFF0u);
    int32_t lfanew = 0;
    EXPECT_TRUE(DosLfanew(BlockOver(dos, 64), &lfanew));
    EXPECT_EQ(lfanew, -16);
    EXPECT_FALSE(DosLfanew(BlockOver(dos, 63), &lfanew));

    PeLayout layout;
    layout.entryPoint = 0x12345678;
    Bytes pe = testfiles::BuildPeHeaders(layout);
    uint32_t entry = 0;
    EXPECT_TRUE(PeEntryPoint(BlockOver(pe, 44), &entry));
    EXPECT_EQ(entry, 0x12345678u);
    EXPECT_FALSE(PeEntryPoint(BlockOver(pe, 43), &entry));
    EXPECT_FALSE(PeEntryPoint(ByteBlock{}, &entry));
}

TEST(MapAddressToFile, WorkedExample) {
    Bytes headers = ExampleHeaders();
    const ByteBlock block = BlockOver(headers, static_cast<uint32_t>(headers.size()));
    uint32_t section = 99, offset = 99, fileOffset = 99;
    EXPECT_EQ(MapAddressToFile(block, 0x1010, &section, &offset, &fileOffset), 0);
    EXPECT_EQ(section, 0u);
    EXPECT_EQ(offset, 0x10u);
    EXPECT_EQ(fileOffset, 0x410u);

    // Inside VirtualSize but beyond the raw data: no bytes in the file.
    EXPECT_EQ(MapAddressToFile(block, 0x1450, &section, &offset, &fileOffset), 0);
    EXPECT_EQ(section, 0u);
    EXPECT_EQ(offset, 0x450u);
    EXPECT_EQ(fileOffset, 0u);

    section = offset = fileOffset = 99;
    EXPECT_EQ(MapAddressToFile(block, 0x1500, &section, &offset, &fileOffset), 1);
    EXPECT_EQ(section, 99u);
    EXPECT_EQ(offset, 99u);
    EXPECT_EQ(fileOffset, 99u);
}

TEST(MapAddressToFile, SectionBoundaries) {
    Bytes headers = ExampleHeaders();
    const ByteBlock block = BlockOver(headers, static_cast<uint32_t>(headers.size()));
    struct Case {
        uint32_t address;
        int result;
        uint32_t section;
        uint32_t fileOffset;
    };
    const Case cases[] = {
        {0x0FFF, 1, 0, 0},       {0x1000, 0, 0, 0x400},  {0x13FF, 0, 0, 0x7FF},  {0x1400, 0, 0, 0},
        {0x14FF, 0, 0, 0},       {0x1FFF, 1, 0, 0},      {0x2000, 0, 1, 0x800},  {0x20FF, 0, 1, 0x8FF},
        {0x2100, 1, 0, 0},       {0, 1, 0, 0},           {0xFFFFFFFF, 1, 0, 0},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.address);
        uint32_t section = 99, offset = 99, fileOffset = 99;
        ASSERT_EQ(MapAddressToFile(block, c.address, &section, &offset, &fileOffset), c.result);
        if (c.result == 0) {
            EXPECT_EQ(section, c.section);
            EXPECT_EQ(fileOffset, c.fileOffset);
        }
    }
}

TEST(MapAddressToFile, NoSectionsMapNothing) {
    Bytes headers = testfiles::BuildPeHeaders(PeLayout{});
    const ByteBlock block = BlockOver(headers, static_cast<uint32_t>(headers.size()));
    uint32_t section = 0, offset = 0, fileOffset = 0;
    for (uint32_t address : {0u, 0x1000u, 0x80000000u, 0xFFFFFFFFu}) {
        EXPECT_EQ(MapAddressToFile(block, address, &section, &offset, &fileOffset), 1) << address;
    }
}

TEST(MapAddressToFile, FirstSectionWinsOnOverlap) {
    PeLayout layout;
    layout.sections = {{0x1000, 0x1000, 0x1000, 0x400}, {0x1800, 0x1000, 0x1000, 0x2000}};
    Bytes headers = testfiles::BuildPeHeaders(layout);
    const ByteBlock block = BlockOver(headers, static_cast<uint32_t>(headers.size()));
    uint32_t section = 99, offset = 99, fileOffset = 99;
    EXPECT_EQ(MapAddressToFile(block, 0x1900, &section, &offset, &fileOffset), 0);
    EXPECT_EQ(section, 0u);
    EXPECT_EQ(fileOffset, 0xD00u);
    EXPECT_EQ(MapAddressToFile(block, 0x2100, &section, &offset, &fileOffset), 0);
    EXPECT_EQ(section, 1u);
    EXPECT_EQ(offset, 0x900u);
    EXPECT_EQ(fileOffset, 0x2900u);
}

TEST(MapAddressToFile, SectionAtTheTopOfTheAddressSpace) {
    // VirtualAddress + VirtualSize is exactly 2^32: the end must not wrap.
    PeLayout layout;
    layout.sections = {{0xFFFFF000u, 0x1000, 0x1000, 0x400}};
    Bytes headers = testfiles::BuildPeHeaders(layout);
    const ByteBlock block = BlockOver(headers, static_cast<uint32_t>(headers.size()));
    uint32_t section = 99, offset = 99, fileOffset = 99;
    EXPECT_EQ(MapAddressToFile(block, 0xFFFFFFFFu, &section, &offset, &fileOffset), 0);
    EXPECT_EQ(section, 0u);
    EXPECT_EQ(offset, 0xFFFu);
    EXPECT_EQ(fileOffset, 0x13FFu);
    EXPECT_EQ(MapAddressToFile(block, 0xFFFFF000u, &section, &offset, &fileOffset), 0);
    EXPECT_EQ(fileOffset, 0x400u);
    // Addresses below the section must not pass through a wrapped difference.
    EXPECT_EQ(MapAddressToFile(block, 0x0, &section, &offset, &fileOffset), 1);
    EXPECT_EQ(MapAddressToFile(block, 0xFFFFEFFFu, &section, &offset, &fileOffset), 1);
}

TEST(MapAddressToFile, SectionsBeyondTheBlockAreIgnored) {
    // The header claims three sections; the block given holds fewer. The
    // bytes behind the block describe a section that would hold 0x3000.
    PeLayout layout;
    layout.sections = {{0x1000, 0x100, 0x100, 0x400}, {0x2000, 0x100, 0x100, 0x500}, {0x3000, 0x100, 0x100, 0x600}};
    Bytes headers = testfiles::BuildPeHeaders(layout);
    uint32_t section = 99, offset = 99, fileOffset = 99;
    EXPECT_EQ(MapAddressToFile(BlockOver(headers, 368), 0x3010, &section, &offset, &fileOffset), 0);
    EXPECT_EQ(section, 2u);
    EXPECT_EQ(fileOffset, 0x610u);
    section = 99;
    EXPECT_EQ(MapAddressToFile(BlockOver(headers, 367), 0x3010, &section, &offset, &fileOffset), 1);
    EXPECT_EQ(MapAddressToFile(BlockOver(headers, 367), 0x2010, &section, &offset, &fileOffset), 0);
    EXPECT_EQ(section, 1u);
    EXPECT_EQ(MapAddressToFile(BlockOver(headers, 248 + 40 + 20), 0x2010, &section, &offset, &fileOffset), 1);
    EXPECT_EQ(MapAddressToFile(BlockOver(headers, 248), 0x1010, &section, &offset, &fileOffset), 1);
    EXPECT_EQ(MapAddressToFile(BlockOver(headers, 7), 0x1010, &section, &offset, &fileOffset), 1);
    EXPECT_EQ(MapAddressToFile(ByteBlock{}, 0x1010, &section, &offset, &fileOffset), 1);
}
