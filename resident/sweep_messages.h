// The sweep's message boxes: no owner, the program's caption, an OK button.
#pragma once

#include <windows.h>

extern const char* const ProcessRemovedText;
extern const char* const ProcessNotRemovedText;
extern const char* const ServiceRemovedText;
extern const char* const ServiceNotRemovedText;
extern const char* const SweepCaption;

// Test seam: MessageBoxA unless a test records the boxes instead.
extern int(WINAPI* residentMessageBox)(HWND owner, LPCSTR text, LPCSTR caption, UINT style);

// Warning icon for something removed, error icon for a failure; returns
// when the box has been dismissed.
void ShowSweepMessage(bool removed, const char* removedText, const char* notRemovedText);
