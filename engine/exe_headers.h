// The layout of DOS, NE, LE and PE headers held in memory, and the mapping
// of PE relative virtual addresses to file offsets. Reading the headers of a
// file and classifying it is the file view's (engine/file_view.h), which
// builds on this.
#pragma once

#include <cstdint>

#include "engine/bytes.h"

// One flag per file, so that callers can test it against a mask.
enum ExecutableKind : uint32_t {
    KindUndetermined = 0,  // no heap block for a header buffer
    KindOther = 1,
    KindDos = 2,
    KindPeImage = 4,
    KindPeDll = 8,
    KindNe = 16,
    KindLe = 32,
};

constexpr uint32_t DosHeaderSize = 64;
constexpr uint32_t DosLfanewOffset = 60;
// Offsets of the PE headers count from e_lfanew, where the signature is.
constexpr uint32_t PeSignatureSize = 4;
constexpr uint32_t PeFileHeaderSize = 20;
constexpr uint32_t PeOptionalHeaderOffset = PeSignatureSize + PeFileHeaderSize;
constexpr uint32_t PeFixedHeaderSize = 248;  // signature, file header, 32-bit optional header
constexpr uint32_t PeSectionEntrySize = 40;
constexpr uint32_t PeNumberOfSectionsOffset = 6;
constexpr uint32_t PeSizeOfOptionalHeaderOffset = 20;
constexpr uint32_t PeCharacteristicsOffset = 22;
constexpr uint32_t PeEntryPointOffset = 40;
constexpr uint32_t SectionVirtualSize = 8;
constexpr uint32_t SectionVirtualAddress = 12;
constexpr uint32_t SectionSizeOfRawData = 16;
constexpr uint32_t SectionPointerToRawData = 20;

// A heap block from BlockAlloc together with its size.
struct ByteBlock {
    uint8_t* data = nullptr;
    uint32_t size = 0;
};

inline ByteView View(const ByteBlock& block) { return ByteView{block.data, block.size}; }

// Releases the block (if any) and leaves it empty.
void ReleaseBlock(ByteBlock* block);
void ReleaseHeaders(ByteBlock* dosHeader, ByteBlock* peHeaders);

// 0 when the address lies in a section (bounded by VirtualSize), 1 when it
// does not; on 1 the outputs are untouched. A file offset of 0 means the
// address has no bytes in the file.
int MapAddressToFile(const ByteBlock& peHeaders, uint32_t address, uint32_t* section,
                     uint32_t* offsetInSection, uint32_t* fileOffset);

// The header buffers of one check, released on every path out of it.
struct HeaderBuffers {
    ByteBlock dosHeader;
    ByteBlock peHeaders;
    HeaderBuffers() = default;
    HeaderBuffers(const HeaderBuffers&) = delete;
    HeaderBuffers& operator=(const HeaderBuffers&) = delete;
    ~HeaderBuffers() { ReleaseHeaders(&dosHeader, &peHeaders); }
};

// MapAddressToFile for callers that need bytes: false when the address lies
// in no section or has no bytes in the file (file offset 0).
bool MapToStoredBytes(const ByteBlock& peHeaders, uint32_t address, uint32_t* fileOffset);

// PointerToRawData and SizeOfRawData of section index; false when the entry
// does not lie inside peHeaders.
bool SectionRawRange(const ByteBlock& peHeaders, uint32_t index, uint32_t* rawPointer, uint32_t* rawSize);

// Reads of the fixed PE header fields; false when peHeaders is too short.
bool PeEntryPoint(const ByteBlock& peHeaders, uint32_t* entryPoint);
bool DosLfanew(const ByteBlock& dosHeader, int32_t* lfanew);
