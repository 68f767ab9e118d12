#include "engine/exe_headers.h"

#include "engine/file_io.h"

void ReleaseBlock(ByteBlock* block) {
    BlockFree(block->data);
    block->data = nullptr;
    block->size = 0;
}

void ReleaseHeaders(ByteBlock* dosHeader, ByteBlock* peHeaders) {
    ReleaseBlock(dosHeader);
    ReleaseBlock(peHeaders);
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
