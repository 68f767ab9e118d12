// Where the file infector keeps its marks and data, relative to the start of
// its body (the byte at the body's start address), and how its body is
// encrypted. Shared by detection and repair, which must agree on every byte.
#pragma once

#include <cstdint>

#include "engine/threats.h"

constexpr uint32_t ElkernBufferSize = 1024;
constexpr uint8_t BlockMarker0 = 0x57;  // 'W'
constexpr uint8_t BlockMarker1 = 0x51;  // 'Q'
constexpr uint8_t OpcodeCall = 0xE8;
constexpr uint8_t OpcodeJump = 0xE9;
// A CALL or JMP with its 32-bit displacement, which counts from its end.
constexpr uint32_t BranchLength = 5;

// The body is a chain of blocks, each behind a header of its own: the
// address of the next block (0 ends the chain), the 16-bit length of the
// block's data, and the marker, which thus lies in the two bytes right
// before the data.
constexpr uint32_t BlockHeaderSize = 8;
constexpr uint32_t BlockNextOffset = 0;
constexpr uint32_t BlockLengthOffset = 4;
constexpr uint32_t BlockMarkerLength = 2;

// Elkern.A and B: body at the target of the CALL at the entry point. The
// entry bytes are the marker before the entry point and the CALL.
constexpr uint32_t AbEntryLength = BlockMarkerLength + BranchLength;
constexpr uint8_t AbBodyByte0 = 0x5D;
constexpr uint8_t AbBodyByte2 = 0x60;
constexpr uint8_t AbBodyByte3 = 0x8D;
constexpr uint32_t AbKey1Offset = 15;
constexpr uint32_t AbRotationOffset = 18;
constexpr uint32_t AbKey2Offset = 21;
constexpr uint32_t AbEncodedOffset = 61;
constexpr uint32_t AbCheckedLength = 224;
constexpr uint32_t AbEncodedLength = 512;
constexpr uint32_t AbSavedEntryA = 390;
constexpr uint32_t AbSavedEntryB = 382;
constexpr uint32_t ElkernACrc = 0xC9375D61u;
constexpr uint32_t ElkernBCrc = 0xEAFB2329u;

// Elkern.C: the bytes at the entry point are a JMP to the body or the
// body's own; the body keeps as many bytes of the host.
constexpr uint32_t CEntryLength = BranchLength;
// Windows counted from two bytes before the body (the marker).
constexpr uint32_t CWindowLength = 11;
constexpr uint32_t CSecondWindow = 16;
constexpr uint32_t CFirstWindowCrc = 0xC3324EA7u;
constexpr uint32_t CSecondWindowCrc = 0xD6CF7F28u;
constexpr uint32_t CEncryptedOffset = 315;
constexpr uint32_t CEncryptedLength = 120;
constexpr uint16_t CFirstPlainWord = 0x9C60;
constexpr uint32_t CEncryptedCrc = 0x44706677u;
// Repair fields, counted from the body itself.
constexpr uint32_t CSavedEntry = 58;
constexpr uint32_t CSavedBytes = 65;
constexpr uint32_t CSavedFifthByte = 72;

// Elkern.A/B entry: the AbEntryLength bytes from the marker before the entry
// point hold the marker and a CALL; the call's target is the body (wrapping
// arithmetic).
bool HasElkernABEntry(const uint8_t* entryBytes);
uint32_t ElkernABBodyStart(uint32_t entry, const uint8_t* entryBytes);
bool HasElkernABBodyMarks(const uint8_t* body);

// Elkern.C entry: with a JMP in the CEntryLength bytes at the entry point the
// body is its target, otherwise the entry point itself.
uint32_t ElkernCBodyStart(uint32_t entry, const uint8_t* entryBytes);

// Decodes count bytes from AbEncodedOffset in place with the keys the body
// carries; the buffer holds at least AbEncodedOffset + count bytes.
void DecodeElkernAB(uint8_t* body, uint32_t count);

// The variant whose checksum the decoded 224 bytes carry, or none.
ThreatName ElkernABVariant(const uint8_t* body);

// Elkern.C body marks in a buffer read from two bytes before the body: the
// block marker and the checksums of the two windows.
bool HasElkernCMarks(const uint8_t* window);

// Decrypts the 120-byte stretch of a buffer read from two bytes before the
// body and tells whether it carries the known checksum.
bool DecryptElkernC(uint8_t* window);
