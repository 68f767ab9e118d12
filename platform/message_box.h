// The program's message boxes: one caption for every box and for the main
// window, and one way to show them, seamMessageBox of platform/seams.h,
// shared by the dialog and the start-up sweep. Windows only.
#pragma once

#include <windows.h>

#include "platform/seams.h"

extern const char* const ProgramCaption;

