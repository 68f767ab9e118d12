#include "engine/elkern_layout.h"

#include "engine/bytes.h"
#include "engine/crc32.h"

bool HasElkernABEntry(const uint8_t* entryBytes) {
    return entryBytes[0] == BlockMarker0 && entryBytes[1] == BlockMarker1 &&
           entryBytes[BlockMarkerLength] == OpcodeCall;
}

uint32_t ElkernABBodyStart(uint32_t entry, const uint8_t* entryBytes) {
    return entry + BranchLength + LoadLe32(entryBytes + BlockMarkerLength + 1);
}

bool HasElkernABBodyMarks(const uint8_t* body) {
    return body[0] == AbBodyByte0 && body[2] == AbBodyByte2 && body[3] == AbBodyByte3;
}

uint32_t ElkernCBodyStart(uint32_t entry, const uint8_t* entryBytes) {
    return entryBytes[0] == OpcodeJump ? entry + BranchLength + LoadLe32(entryBytes + 1) : entry;
}

void DecodeElkernAB(uint8_t* body, uint32_t count) {
    // Keys are taken before anything is changed.
    const uint8_t key1 = body[AbKey1Offset];
    const unsigned rotation = body[AbRotationOffset] & 7u;
    const uint8_t key2 = body[AbKey2Offset];
    for (uint32_t i = 0; i < count; ++i) {
        unsigned x = static_cast<uint8_t>(body[AbEncodedOffset + i] ^ key1);
        x = ((x << rotation) | (x >> ((8u - rotation) & 7u))) & 0xFFu;
        body[AbEncodedOffset + i] = static_cast<uint8_t>(x ^ key2);
    }
}

ThreatName ElkernABVariant(const uint8_t* body) {
    const uint32_t crc = Crc32Raw(body + AbEncodedOffset, AbCheckedLength);
    if (crc == ElkernACrc) return ElkernThreatA;
    if (crc == ElkernBCrc) return ElkernThreatB;
    return nullptr;
}

bool HasElkernCMarks(const uint8_t* window) {
    if (window[0] != BlockMarker0 || window[1] != BlockMarker1) return false;
    return Crc32Raw(window, CWindowLength) == CFirstWindowCrc &&
           Crc32Raw(window + CSecondWindow, CWindowLength) == CSecondWindowCrc;
}

bool DecryptElkernC(uint8_t* window) {
    // One key for the whole stretch, derived from its first word.
    const unsigned first = static_cast<unsigned>(window[CEncryptedOffset]) |
                           (static_cast<unsigned>(window[CEncryptedOffset + 1]) << 8);
    const unsigned key = first ^ CFirstPlainWord;
    for (uint32_t j = 0; j < CEncryptedLength; j += 2) {
        window[CEncryptedOffset + j] = static_cast<uint8_t>(window[CEncryptedOffset + j] ^ (key & 0xFFu));
        window[CEncryptedOffset + j + 1] = static_cast<uint8_t>(window[CEncryptedOffset + j + 1] ^ (key >> 8));
    }
    return Crc32Raw(window + CEncryptedOffset, CEncryptedLength) == CEncryptedCrc;
}
