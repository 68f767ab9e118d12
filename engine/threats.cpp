#include "engine/threats.h"

const ThreatNameEntry ThreatNameTable[ThreatNameCount] = {
    {"Win32.Klez.A@mm", Remedy::DeleteFile},     {"Win32.Klez.B@mm", Remedy::DeleteFile},
    {"Win32.Klez.C@mm", Remedy::DeleteFile},     {"Win32.Klez.D@mm", Remedy::DeleteFile},
    {"Win32.Klez.E@mm", Remedy::DeleteFile},     {"Win32.Klez.G@mm", Remedy::DeleteFile},
    {"Win32.Klez.H@mm", Remedy::DeleteFile},     {"Win32.Elkern.A", Remedy::RepairElkernAB},
    {"Win32.Elkern.B", Remedy::RepairElkernAB},  {"Win32.Elkern.C", Remedy::RepairElkernC},
};

const ThreatName KlezThreatNames[7] = {
    &ThreatNameTable[0], &ThreatNameTable[1], &ThreatNameTable[2], &ThreatNameTable[3],
    &ThreatNameTable[4], &ThreatNameTable[5], &ThreatNameTable[6],
};
