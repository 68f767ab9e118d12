#include "engine/exe_headers.h"

namespace {

constexpr uint32_t FileHeaderSize = 20;
constexpr uint32_t FileHeaderSectionsOffset = 2;
constexpr uint32_t FileHeaderCharacteristicsOffset = 18;
constexpr uint16_t ImageFileDll = 0x2000;
constexpr uint16_t MagicMz = 0x5A4D;  // bytes M, Z
constexpr uint16_t MagicZm = 0x4D5A;  // bytes Z, M
constexpr uint32_t SignaturePe = 0x00004550;
constexpr uint32_t SignatureNe = 0x0000454E;
constexpr uint32_t SignatureLe = 0x0000454C;

bool AllocBlock(ByteBlock* block, uint32_t size) {
    block->data = static_cast<uint8_t*>(BlockAlloc(size));
    block->size = block->data != nullptr ? size : 0;
    return block->data != nullptr;
}

}  // namespace

void ReleaseBlock(ByteBlock* block) {
    BlockFree(block->data);
    block->data = nullptr;
    block->size = 0;
}

void ReleaseHeaders(ByteBlock* dosHeader, ByteBlock* peHeaders) {
    ReleaseBlock(dosHeader);
    ReleaseBlock(peHeaders);
}

uint32_t ClassifyExecutable(FileHandle file, ByteBlock* dosHeader, ByteBlock* peHeaders) {
    *dosHeader = ByteBlock{};
    *peHeaders = ByteBlock{};

    if (!AllocBlock(dosHeader, DosHeaderSize)) return KindUndetermined;
    FileSeek(file, 0, 0);
    if (FileRead(file, dosHeader->data, DosHeaderSize) < DosHeaderSize) {
        ReleaseBlock(dosHeader);
        return KindOther;
    }

    uint16_t magic = 0;
    ReadLe16(View(*dosHeader), 0, &magic);
    if (magic == MagicZm) return KindDos;  // no new header is looked for behind ZM
    if (magic != MagicMz) {
        ReleaseBlock(dosHeader);
        return KindOther;
    }

    // e_lfanew is a signed distance; a negative one makes the seek fail, and
    // a failed seek makes the read come back empty, so such a file is DOS.
    int32_t lfanew = 0;
    DosLfanew(*dosHeader, &lfanew);
    uint8_t signatureBytes[4] = {};
    FileSeek(file, lfanew, 0);
    if (FileRead(file, signatureBytes, 4) < 4) return KindDos;
    uint32_t signature = 0;
    ReadLe32(ByteView{signatureBytes, 4}, 0, &signature);
    if (signature == SignatureLe || signature == SignatureNe) {
        ReleaseBlock(dosHeader);
        return signature == SignatureLe ? KindLe : KindNe;
    }
    if (signature != SignaturePe) return KindDos;

    uint8_t fileHeader[FileHeaderSize] = {};
    if (FileRead(file, fileHeader, FileHeaderSize) < FileHeaderSize) return KindDos;
    uint16_t sections = 0;
    uint16_t characteristics = 0;
    ReadLe16(ByteView{fileHeader, FileHeaderSize}, FileHeaderSectionsOffset, &sections);
    ReadLe16(ByteView{fileHeader, FileHeaderSize}, FileHeaderCharacteristicsOffset, &characteristics);

    // At most 248 + 40 * 65535 bytes: no overflow, and the count is capped by
    // its 16-bit width before it is multiplied.
    const uint32_t size = PeFixedHeaderSize + PeSectionEntrySize * sections;
    if (!AllocBlock(peHeaders, size)) return KindDos;
    FileSeek(file, lfanew, 0);
    if (FileRead(file, peHeaders->data, size) < size) {
        ReleaseBlock(peHeaders);
        return KindDos;
    }
    return (characteristics & ImageFileDll) ? KindPeDll : KindPeImage;
}

bool ReadExecutableHeaders(uint32_t mask, FileHandle file, ByteBlock* dosHeader, ByteBlock* peHeaders) {
    const uint32_t kind = ClassifyExecutable(file, dosHeader, peHeaders);
    if (kind & mask) return true;
    ReleaseHeaders(dosHeader, peHeaders);
    return false;
}

int MapAddressToFile(const ByteBlock& peHeaders, uint32_t address, uint32_t* section,
                     uint32_t* offsetInSection, uint32_t* fileOffset) {
    const ByteView view = View(peHeaders);
    uint16_t declared = 0;
    if (!ReadLe16(view, PeNumberOfSectionsOffset, &declared)) return 1;
    // Only entries that lie inside the buffer are looked at, whatever the
    // count says.
    const uint32_t available =
        view.size >= PeFixedHeaderSize ? (view.size - PeFixedHeaderSize) / PeSectionEntrySize : 0;
    const uint32_t count = declared < available ? declared : available;

    for (uint32_t i = 0; i < count; ++i) {
        const uint32_t entry = PeFixedHeaderSize + PeSectionEntrySize * i;
        uint32_t virtualSize = 0, virtualAddress = 0, rawSize = 0, rawPointer = 0;
        ReadLe32(view, entry + SectionVirtualSize, &virtualSize);
        ReadLe32(view, entry + SectionVirtualAddress, &virtualAddress);
        ReadLe32(view, entry + SectionSizeOfRawData, &rawSize);
        ReadLe32(view, entry + SectionPointerToRawData, &rawPointer);
        if (address < virtualAddress || address - virtualAddress >= virtualSize) continue;

        const uint32_t inSection = address - virtualAddress;
        *section = i;
        *offsetInSection = inSection;
        // Bytes past the section's raw data are not in the file: offset 0.
        // The sum wraps as 32-bit arithmetic does; callers bound it by the
        // file's size before they use it.
        *fileOffset = inSection < rawSize ? rawPointer + inSection : 0;
        return 0;
    }
    return 1;
}

bool PeEntryPoint(const ByteBlock& peHeaders, uint32_t* entryPoint) {
    return ReadLe32(View(peHeaders), PeEntryPointOffset, entryPoint);
}

bool DosLfanew(const ByteBlock& dosHeader, int32_t* lfanew) {
    uint32_t raw = 0;
    if (!ReadLe32(View(dosHeader), DosLfanewOffset, &raw)) return false;
    *lfanew = static_cast<int32_t>(raw);
    return true;
}

bool MapToStoredBytes(const ByteBlock& peHeaders, uint32_t address, uint32_t* fileOffset) {
    uint32_t section = 0, inSection = 0, offset = 0;
    if (MapAddressToFile(peHeaders, address, &section, &inSection, &offset) != 0 || offset == 0) return false;
    *fileOffset = offset;
    return true;
}

bool SectionRawRange(const ByteBlock& peHeaders, uint32_t index, uint32_t* rawPointer, uint32_t* rawSize) {
    const ByteView view = View(peHeaders);
    if (index > (0xFFFFFFFFu - PeFixedHeaderSize) / PeSectionEntrySize) return false;
    const uint32_t entry = PeFixedHeaderSize + PeSectionEntrySize * index;
    if (!FieldFits(view, entry, PeSectionEntrySize)) return false;
    return ReadLe32(view, entry + SectionPointerToRawData, rawPointer) &&
           ReadLe32(view, entry + SectionSizeOfRawData, rawSize);
}
