// The start-up sweep of the running system: processes whose executable file
// names carry a threat prefix are terminated, such services stopped and
// deleted (NT family only) and such values deleted from the machine-wide Run
// key. Every process or service found is reported in a message box, which
// blocks until it is dismissed.
#pragma once

#include <windows.h>

// The dialog runs this as the last step of its initialisation, before it is
// first shown. Always returns 0.
int ResidentSweep();

// The steps of the sweep.
void EnableDebugPrivilege();
void RemoveThreatServices();
int TerminateThreatProcess(DWORD processId);  // 1 when terminated
void RemoveThreatRunValues();
// True when name begins with "wink", "krn132" or "wqk", ignoring ASCII case.
bool HasThreatPrefix(const char* name);
// The characters after the last backslash of a process path, or the whole
// path without one. In the double-byte code pages (932, 936, 950, ...) a
// trail byte may be 0x5C; it is part of its character, not a separator.
const char* ProcessFileName(const char* path, UINT codePage = CP_ACP);
