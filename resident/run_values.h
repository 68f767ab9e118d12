// The machine-wide startup key that the sweep cleans.
#pragma once

#include <windows.h>

extern const char* const RunKeyPath;  // under HKEY_LOCAL_MACHINE

// Test seam: RegOpenKeyExA unless a test counts the openings or refuses them.
extern LONG(WINAPI* residentRegOpenKey)(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key);
