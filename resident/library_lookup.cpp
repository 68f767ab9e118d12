#include "resident/library_lookup.h"

FARPROC(WINAPI* residentGetProcAddress)(HMODULE, LPCSTR) = GetProcAddress;
