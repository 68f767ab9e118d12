#pragma once

// One entry of the constant threat-name table. Entries are compared by
// identity (address), never by text: the repair chooses its method by which
// entry a file check names.
struct ThreatNameEntry {
    const char* text;
};
using ThreatName = const ThreatNameEntry*;

constexpr int ThreatNameCount = 10;
extern const ThreatNameEntry ThreatNameTable[ThreatNameCount];

// Rows 0..6 are the worm variants A, B, C, D, E, G, H; 7..9 Elkern A, B, C.
extern const ThreatName KlezThreatNames[7];
constexpr ThreatName ElkernThreatA = &ThreatNameTable[7];
constexpr ThreatName ElkernThreatB = &ThreatNameTable[8];
constexpr ThreatName ElkernThreatC = &ThreatNameTable[9];
