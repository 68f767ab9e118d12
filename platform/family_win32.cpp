#include <windows.h>

#include "platform/family.h"
#include "platform/seams.h"

PlatformFamily seamPlatformFamily = FamilyAuto;

bool IsNtFamily() {
    if (seamPlatformFamily != FamilyAuto) return seamPlatformFamily == FamilyNt;
    return (GetVersion() & 0x80000000u) == 0;
}
