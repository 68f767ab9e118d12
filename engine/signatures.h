#pragma once

#include <cstdint>

#include "engine/file_view.h"
#include "engine/threats.h"

struct SignatureRecord {
    uint32_t kindMask;
    uint32_t anchor;  // low 16 bits: 0 absolute, 1 section-relative; high 16 bits: section index
    uint32_t firstOffset;
    uint32_t firstLength;
    uint32_t firstCrc;
    uint32_t secondOffset;
    uint32_t secondLength;
    uint32_t secondCrc;
    ThreatName threat;
};

constexpr int SignatureRowCount = 7;
extern const SignatureRecord SignatureTable[SignatureRowCount];

// -1 when no row matches, else the one-based position of the first match,
// whose threat goes to *found (which no other outcome touches). The regions
// come from the view: each is read and checksummed once, however many rows
// ask for it.
int MatchSignatureTable(FileView* view, const SignatureRecord* table, int rows, ThreatName* found);

bool MatchSignatures(FileView* view, ThreatName* found);
