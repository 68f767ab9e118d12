#include "platform/family.h"

// There is no Windows family here; the NT behaviour is the default so that
// portable code takes the same road as on current Windows.
PlatformFamily platformFamilyOverride = FamilyAuto;

bool IsNtFamily() { return platformFamilyOverride != FamilyWin9x; }
