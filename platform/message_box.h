// The program's message boxes: one caption for every box and for the main
// window, and one way to show them, shared by the dialog and the start-up
// sweep. Windows only.
#pragma once

#include <windows.h>

extern const char* const ProgramCaption;

// MessageBoxA, unless a test points it at a recorder (which still shows the
// box, or answers it itself); the program never depends on which.
using MessageBoxFunction = int(WINAPI*)(HWND, LPCSTR, LPCSTR, UINT);
extern MessageBoxFunction showMessageBox;
