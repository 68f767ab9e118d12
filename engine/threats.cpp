#include "engine/threats.h"

const ThreatNameEntry ThreatNameTable[ThreatNameCount] = {
    {"Win32.Klez.A@mm"}, {"Win32.Klez.B@mm"}, {"Win32.Klez.C@mm"}, {"Win32.Klez.D@mm"},
    {"Win32.Klez.E@mm"}, {"Win32.Klez.G@mm"}, {"Win32.Klez.H@mm"}, {"Win32.Elkern.A"},
    {"Win32.Elkern.B"},  {"Win32.Elkern.C"},
};

const ThreatName KlezThreatNames[7] = {
    &ThreatNameTable[0], &ThreatNameTable[1], &ThreatNameTable[2], &ThreatNameTable[3],
    &ThreatNameTable[4], &ThreatNameTable[5], &ThreatNameTable[6],
};
