#include "engine/signatures.h"

#include "engine/exe_headers.h"

namespace {

constexpr uint32_t WormRegionOffset = 4096;
constexpr uint32_t WormRegionLength = 32768;
constexpr uint32_t AnchorAbsolute = 0;
constexpr uint32_t AnchorSection = 1;

// The base that a row's region offsets count from; false skips the row.
bool RowBase(const SignatureRecord& row, uint32_t kind, const ByteBlock& peHeaders, uint32_t* base) {
    const uint32_t anchorKind = row.anchor & 0xFFFFu;
    if (anchorKind == AnchorAbsolute) {
        *base = 0;
        return true;
    }
    // Section-relative rows make sense only for PE files, whose section
    // table the header buffer holds; any other anchor kind is not ours.
    if (anchorKind != AnchorSection || (kind & (KindPeImage | KindPeDll)) == 0) return false;
    const ByteView view = View(peHeaders);
    uint16_t optionalSize = 0;
    if (!ReadLe16(view, PeSizeOfOptionalHeaderOffset, &optionalSize)) return false;
    const uint32_t index = row.anchor >> 16;
    // The optional header's offset + 65535 + 40 * 65535 + 20 stays far below
    // 2^32: no wrap.
    const uint32_t entry = PeOptionalHeaderOffset + optionalSize + PeSectionEntrySize * index;
    if (!FieldFits(view, entry, PeSectionEntrySize)) return false;
    return ReadLe32(view, entry + SectionPointerToRawData, base);
}

bool RegionMatches(FileView* view, uint32_t offset, uint32_t length, uint32_t expected) {
    uint32_t checksum = 0;
    return ViewRegionChecksum(view, offset, length, &checksum) && checksum == expected;
}

}  // namespace

const SignatureRecord SignatureTable[SignatureRowCount] = {
    {KindPeImage, 0, WormRegionOffset, WormRegionLength, 0xD61B2860u, 0, 0, 0, &ThreatNameTable[0]},
    {KindPeImage, 0, WormRegionOffset, WormRegionLength, 0xD4CE23A3u, 0, 0, 0, &ThreatNameTable[1]},
    {KindPeImage, 0, WormRegionOffset, WormRegionLength, 0x7DE2D5A8u, 0, 0, 0, &ThreatNameTable[2]},
    {KindPeImage, 0, WormRegionOffset, WormRegionLength, 0x9E845B09u, 0, 0, 0, &ThreatNameTable[3]},
    {KindPeImage, 0, WormRegionOffset, WormRegionLength, 0x19553F97u, 0, 0, 0, &ThreatNameTable[4]},
    {KindPeImage, 0, WormRegionOffset, WormRegionLength, 0x538C6F75u, 0, 0, 0, &ThreatNameTable[5]},
    {KindPeImage, 0, WormRegionOffset, WormRegionLength, 0xA3389807u, 0, 0, 0, &ThreatNameTable[6]},
};

int MatchSignatureTable(FileView* view, const SignatureRecord* table, int rows, ThreatName* found) {
    const uint32_t kind = view->kind;

    int match = -1;
    for (int i = 0; i < rows && match < 0; ++i) {
        const SignatureRecord& row = table[i];
        uint32_t base = 0;
        if ((row.kindMask & kind) == 0 || !RowBase(row, kind, view->peHeaders, &base)) continue;
        // Offsets add to the base in wrapping unsigned arithmetic; a sum
        // beyond the signed range simply fails to read.
        if (!RegionMatches(view, base + row.firstOffset, row.firstLength, row.firstCrc)) continue;
        if (!RegionMatches(view, base + row.secondOffset, row.secondLength, row.secondCrc)) continue;
        *found = row.threat;
        match = i + 1;
    }
    return match;
}

bool MatchSignatures(FileView* view, ThreatName* found) {
    return MatchSignatureTable(view, SignatureTable, SignatureRowCount, found) != -1;
}
