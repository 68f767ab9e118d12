// A minimal PE writer and the other executable (and non-executable) shapes
// that classification must tell apart.
#include <algorithm>
#include <cstddef>

#include "tests/support/synth.h"

namespace synth {

namespace {

constexpr uint32_t FileHeaderSize = 20;
constexpr uint32_t OptionalHeaderSize = 224;
constexpr uint32_t SectionEntrySize = 40;

uint32_t AlignUp(uint32_t value, uint32_t alignment) {
    if (alignment == 0) return value;
    return (value + alignment - 1) / alignment * alignment;
}

void Grow(Bytes& data, size_t size) {
    if (data.size() < size) data.resize(size, 0);
}

uint32_t SectionTableOffset(uint32_t lfanew, uint16_t sizeOfOptionalHeader) {
    return lfanew + 4 + FileHeaderSize + sizeOfOptionalHeader;
}

uint32_t HeadersEnd(const PeSpec& spec) {
    const auto sections = static_cast<uint32_t>(spec.sections.size());
    const uint32_t optionalEnd = spec.lfanew + 4 + FileHeaderSize + OptionalHeaderSize;
    const uint32_t tableEnd = SectionTableOffset(spec.lfanew, spec.sizeOfOptionalHeader) + SectionEntrySize * sections;
    return std::max(optionalEnd, tableEnd);
}

}  // namespace

PeSpec ResolvePe(const PeSpec& spec) {
    PeSpec out = spec;
    uint32_t nextRaw = AlignUp(HeadersEnd(spec), spec.fileAlignment);
    uint32_t nextVirtual = AlignUp(nextRaw, spec.sectionAlignment);
    for (PeSection& section : out.sections) {
        const auto dataSize = static_cast<uint32_t>(section.data.size());
        if (section.sizeOfRawData == 0) section.sizeOfRawData = AlignUp(dataSize, spec.fileAlignment);
        if (section.virtualSize == 0) section.virtualSize = std::max(dataSize, 1u);
        if (section.pointerToRawData == 0) section.pointerToRawData = nextRaw;
        if (section.virtualAddress == 0) section.virtualAddress = nextVirtual;
        const uint32_t rawEnd = section.pointerToRawData + std::max(section.sizeOfRawData, dataSize);
        nextRaw = std::max(nextRaw, AlignUp(rawEnd, spec.fileAlignment));
        const uint32_t virtualEnd = section.virtualAddress + std::max(section.virtualSize, section.sizeOfRawData);
        nextVirtual = std::max(nextVirtual, AlignUp(virtualEnd, spec.sectionAlignment));
    }
    return out;
}

Bytes BuildPe(const PeSpec& input) {
    const PeSpec spec = ResolvePe(input);
    const uint32_t lfanew = spec.lfanew;
    const uint32_t sizeOfHeaders = AlignUp(HeadersEnd(spec), spec.fileAlignment);
    Bytes image(sizeOfHeaders, 0);

    // DOS header: the magic and e_lfanew are all a classifier reads.
    image[0] = 'M';
    image[1] = 'Z';
    PutLe16(image, 2, 0x0090);   // bytes on last page
    PutLe16(image, 4, 0x0003);   // pages
    PutLe16(image, 8, 0x0004);   // header paragraphs
    PutLe16(image, 24, 0x0040);  // relocation table offset
    PutLe32(image, 60, lfanew);

    const uint32_t fileHeader = lfanew + 4;
    image[lfanew] = 'P';
    image[lfanew + 1] = 'E';
    PutLe16(image, fileHeader + 0, 0x014C);  // i386
    PutLe16(image, fileHeader + 2, static_cast<uint16_t>(spec.sections.size()));
    PutLe32(image, fileHeader + 4, 0x3C000000u);  // TimeDateStamp
    PutLe16(image, fileHeader + 16, spec.sizeOfOptionalHeader);
    PutLe16(image, fileHeader + 18, static_cast<uint16_t>(0x010E | (spec.dll ? ImageFileDll : 0)));

    uint32_t sizeOfImage = AlignUp(sizeOfHeaders, spec.sectionAlignment);
    uint32_t sizeOfCode = 0;
    uint32_t sizeOfData = 0;
    for (const PeSection& section : spec.sections) {
        sizeOfImage =
            std::max(sizeOfImage, AlignUp(section.virtualAddress + section.virtualSize, spec.sectionAlignment));
        if ((section.characteristics & 0x20u) != 0)
            sizeOfCode += section.sizeOfRawData;
        else
            sizeOfData += section.sizeOfRawData;
    }

    const uint32_t optional = fileHeader + FileHeaderSize;
    PutLe16(image, optional + 0, 0x010B);
    image[optional + 2] = 6;  // linker version
    PutLe32(image, optional + 4, sizeOfCode);
    PutLe32(image, optional + 8, sizeOfData);
    PutLe32(image, optional + 16, spec.entryPoint);
    if (!spec.sections.empty()) PutLe32(image, optional + 20, spec.sections.front().virtualAddress);
    if (spec.sections.size() > 1) PutLe32(image, optional + 24, spec.sections[1].virtualAddress);
    PutLe32(image, optional + 28, spec.imageBase);
    PutLe32(image, optional + 32, spec.sectionAlignment);
    PutLe32(image, optional + 36, spec.fileAlignment);
    PutLe16(image, optional + 40, 4);  // OS version
    PutLe16(image, optional + 48, 4);  // subsystem version
    PutLe32(image, optional + 56, sizeOfImage);
    PutLe32(image, optional + 60, sizeOfHeaders);
    PutLe16(image, optional + 68, 2);  // Windows GUI
    PutLe32(image, optional + 72, 0x100000);
    PutLe32(image, optional + 76, 0x1000);
    PutLe32(image, optional + 80, 0x100000);
    PutLe32(image, optional + 84, 0x1000);
    PutLe32(image, optional + 92, 16);  // data directories

    uint32_t entry = SectionTableOffset(lfanew, spec.sizeOfOptionalHeader);
    for (const PeSection& section : spec.sections) {
        for (size_t i = 0; i < 8; ++i)
            image[entry + i] = i < section.name.size() ? static_cast<uint8_t>(section.name[i]) : 0;
        PutLe32(image, entry + 8, section.virtualSize);
        PutLe32(image, entry + 12, section.virtualAddress);
        PutLe32(image, entry + 16, section.sizeOfRawData);
        PutLe32(image, entry + 20, section.pointerToRawData);
        PutLe32(image, entry + 36, section.characteristics);
        entry += SectionEntrySize;
    }

    for (const PeSection& section : spec.sections) {
        const size_t start = section.pointerToRawData;
        Grow(image, start + std::max<size_t>(section.sizeOfRawData, section.data.size()));
        std::copy(section.data.begin(), section.data.end(), image.begin() + static_cast<std::ptrdiff_t>(start));
    }
    return image;
}

uint32_t PeLfanew(const Bytes& image) { return GetLe32(image, 60); }

uint32_t PeEntryPoint(const Bytes& image) { return GetLe32(image, PeLfanew(image) + PeEntryPointField); }

void SetPeEntryPoint(Bytes& image, uint32_t rva) { PutLe32(image, PeLfanew(image) + PeEntryPointField, rva); }

bool MapRva(const Bytes& image, uint32_t rva, uint32_t* fileOffset) {
    const uint32_t lfanew = PeLfanew(image);
    const uint16_t count = GetLe16(image, lfanew + 6);
    const uint16_t sizeOfOptionalHeader = GetLe16(image, lfanew + 20);
    uint32_t entry = SectionTableOffset(lfanew, sizeOfOptionalHeader);
    for (uint16_t i = 0; i < count; ++i, entry += SectionEntrySize) {
        const uint32_t virtualSize = GetLe32(image, entry + 8);
        const uint32_t virtualAddress = GetLe32(image, entry + 12);
        if (rva < virtualAddress || rva - virtualAddress >= virtualSize) continue;
        const uint32_t inSection = rva - virtualAddress;
        if (inSection >= GetLe32(image, entry + 16)) return false;
        *fileOffset = GetLe32(image, entry + 20) + inSection;
        return true;
    }
    return false;
}

Bytes PushSectionsBack(const Bytes& image, uint32_t by) {
    const uint32_t lfanew = PeLfanew(image);
    const uint16_t count = GetLe16(image, lfanew + 6);
    const uint32_t table = SectionTableOffset(lfanew, GetLe16(image, lfanew + 20));
    uint32_t first = static_cast<uint32_t>(image.size());
    for (uint16_t i = 0; i < count; ++i) {
        const uint32_t pointer = GetLe32(image, table + i * SectionEntrySize + 20);
        if (pointer != 0) first = std::min(first, pointer);
    }
    const auto split = image.begin() + static_cast<std::ptrdiff_t>(first);
    Bytes pushed(image.begin(), split);
    pushed.resize(pushed.size() + by, 0);
    pushed.insert(pushed.end(), split, image.end());
    for (uint16_t i = 0; i < count; ++i) {
        const uint32_t field = table + i * SectionEntrySize + 20;
        const uint32_t pointer = GetLe32(pushed, field);
        if (pointer != 0) PutLe32(pushed, field, pointer + by);
    }
    return pushed;
}

Bytes MakeFile(FileKind kind, uint32_t size, uint32_t seed) {
    Rng rng(seed);
    Bytes data(size, 0);
    rng.Fill(data.data(), data.size());
    if (kind == FileKind::Text) {
        static const char alphabet[] = "abcdefghijklmnopqrstuvwxyz ABCDEFGHIJKLMNOPQRSTUVWXYZ 0123456789.,;:";
        for (uint8_t& byte : data) byte = static_cast<uint8_t>(alphabet[rng.Below(sizeof(alphabet) - 1)]);
        for (size_t i = 60; i < data.size(); i += 61) data[i] = '\n';
        return data;
    }
    if (kind == FileKind::Random) {
        // Keep it out of the DOS family for certain.
        if (size >= 2 && ((data[0] == 'M' && data[1] == 'Z') || (data[0] == 'Z' && data[1] == 'M'))) data[0] = 0;
        return data;
    }
    if (size >= 2) {
        data[0] = kind == FileKind::ZmDos ? 'Z' : 'M';
        data[1] = kind == FileKind::ZmDos ? 'M' : 'Z';
    }
    if (size < 64) return data;
    const uint32_t lfanew = kind == FileKind::MzDos ? size + 1 + rng.Below(0x10000) : DefaultLfanew;
    PutLe32(data, 60, lfanew);
    if (size < DefaultLfanew + 4) return data;
    switch (kind) {
        case FileKind::Ne:
        case FileKind::NeBadTail:
            data[DefaultLfanew] = 'N';
            data[DefaultLfanew + 1] = 'E';
            break;
        case FileKind::Le:
            data[DefaultLfanew] = 'L';
            data[DefaultLfanew + 1] = 'E';
            break;
        default: return data;
    }
    data[DefaultLfanew + 2] = kind == FileKind::NeBadTail ? static_cast<uint8_t>(1 + rng.Below(255)) : 0;
    data[DefaultLfanew + 3] = kind == FileKind::NeBadTail ? static_cast<uint8_t>(1 + rng.Below(255)) : 0;
    return data;
}

}  // namespace synth
