// Where tests step into the program's window side: the shell and threads
// (message boxes: platform/seams.h). They point at the platform's
// functions; tests point them elsewhere to watch or to make them fail,
// never to change what the program does with the result.
#pragma once

#include <windows.h>

using ShellExecuteFunction = HINSTANCE(WINAPI*)(HWND, LPCSTR, LPCSTR, LPCSTR, LPCSTR, INT);
using CreateThreadFunction = HANDLE(WINAPI*)(LPSECURITY_ATTRIBUTES, SIZE_T, LPTHREAD_START_ROUTINE, LPVOID, DWORD,
                                              LPDWORD);
extern ShellExecuteFunction seamShellExecute;
extern CreateThreadFunction seamCreateThread;
