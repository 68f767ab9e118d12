// Where tests step into the start-up sweep. They point at the platform's
// functions; tests point them elsewhere to watch or to make them fail,
// never to change what the program does with the result.
#pragma once

#include <windows.h>

// RegOpenKeyExA, or one that counts the openings of the Run key or refuses them.
extern LONG(WINAPI* seamRegOpenKey)(HKEY root, LPCSTR path, DWORD options, REGSAM access, PHKEY key);

// GetProcAddress for the functions the process enumerators look up at run
// time, or one that stands in fakes or pretends that a function is missing.
extern FARPROC(WINAPI* seamGetProcAddress)(HMODULE module, LPCSTR name);
