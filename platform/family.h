// Which Windows platform family the program runs on. The scan needs it for
// restart-time operations, the resident sweep for services and the choice of
// process enumerator.
#pragma once

enum PlatformFamily { FamilyAuto = -1, FamilyNt = 0, FamilyWin9x = 1 };

// The running family, or the one a test chose through seamPlatformFamily
// (platform/seams.h).
bool IsNtFamily();

