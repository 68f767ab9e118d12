#include "resident/library_lookup.h"
#include "resident/seams.h"

FARPROC(WINAPI* seamGetProcAddress)(HMODULE, LPCSTR) = GetProcAddress;
