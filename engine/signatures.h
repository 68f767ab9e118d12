#pragma once

#include <cstdint>

#include "engine/check_context.h"

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

bool RegionChecksum(FileCheckContext* context, uint32_t offset, uint32_t length, uint32_t* checksum);

// -1 when no row matches, else the one-based position of the first match.
int MatchSignatureTable(FileCheckContext* context, const SignatureRecord* table, int rows);

bool MatchSignatures(FileCheckContext* context);
