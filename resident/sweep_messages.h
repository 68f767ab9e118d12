// The sweep's message boxes: no owner, the program's caption, an OK button.
#pragma once

#include <windows.h>

extern const char* const ProcessRemovedText;
extern const char* const ProcessNotRemovedText;
extern const char* const ServiceRemovedText;
extern const char* const ServiceNotRemovedText;


// Warning icon for something removed, error icon for a failure; returns
// when the box has been dismissed.
void ShowSweepMessage(bool removed, const char* removedText, const char* notRemovedText);
