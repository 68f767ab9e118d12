#include "platform/family.h"
#include "platform/seams.h"

// There is no Windows family here; the NT behaviour is the default so that
// portable code takes the same road as on current Windows.
PlatformFamily seamPlatformFamily = FamilyAuto;

bool IsNtFamily() { return seamPlatformFamily != FamilyWin9x; }
