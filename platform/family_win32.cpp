#include <windows.h>

#include "platform/family.h"

PlatformFamily platformFamilyOverride = FamilyAuto;

bool IsNtFamily() {
    if (platformFamilyOverride != FamilyAuto) return platformFamilyOverride == FamilyNt;
    return (GetVersion() & 0x80000000u) == 0;
}
