// The owner of the process enumerator that fits the running platform family.
// Use: construct, start once, next until it returns 0, destroy.
#pragma once

#include <windows.h>

class ProcessEnumerator;

class ProcessList {
public:
    ProcessList();  // never fails; may end without an enumerator
    virtual ~ProcessList();
    ProcessList(const ProcessList&) = delete;
    ProcessList& operator=(const ProcessList&) = delete;

    void start();
    // path receives a NUL-terminated ANSI path of at most length bytes, or
    // an empty one when the whole path cannot be read.
    int next(DWORD* processId, char* path, DWORD length);

private:
    ProcessEnumerator* enumerator;
};

// dwPlatformId of GetVersionExA (0 when the call fails); a family chosen
// through seamPlatformFamily stands for the id of that family.
DWORD RunningPlatformId();
