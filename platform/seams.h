// Where tests step into the platform layer. The message box points at the
// platform's function by default; tests point it elsewhere to watch or to
// make it fail, never to change what the program does with the result. The
// family asks the running system by default; tests set it to take one
// family's road on any system.
#pragma once

#include "platform/family.h"

// FamilyAuto asks the running system.
extern PlatformFamily seamPlatformFamily;

#ifdef _WIN32
#include <windows.h>

// MessageBoxA, or a recorder that still shows the box or answers it itself.
using MessageBoxFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
extern MessageBoxFunction seamMessageBox;
#endif
