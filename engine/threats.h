#pragma once

// How a threat is removed. Each row names its own, so that a new row can
// never fall back to deleting a file that is a host for something else.
enum class Remedy {
    DeleteFile,     // the whole file is the threat
    RepairElkernAB, // a host: its entry point comes back from the encoded body
    RepairElkernC,  // a host: its entry point and five entry bytes come back
};

// One entry of the constant threat-name table. Entries are compared by
// identity (address), never by text.
struct ThreatNameEntry {
    const char* text;
    Remedy remedy;
};
using ThreatName = const ThreatNameEntry*;

constexpr int ThreatNameCount = 10;
extern const ThreatNameEntry ThreatNameTable[ThreatNameCount];

// Rows 0..6 are the worm variants A, B, C, D, E, G, H; 7..9 Elkern A, B, C.
extern const ThreatName KlezThreatNames[7];
constexpr ThreatName ElkernThreatA = &ThreatNameTable[7];
constexpr ThreatName ElkernThreatB = &ThreatNameTable[8];
constexpr ThreatName ElkernThreatC = &ThreatNameTable[9];
