// How the process enumerators find the functions they look up at run time.
#pragma once

#include <windows.h>

#include "resident/seams.h"

// GetProcAddress results are typed through void(*)(), the one conversion
// between function pointer types that compilers accept without complaint.
template <typename Function>
Function LookUpFunction(HMODULE module, const char* name) {
    return reinterpret_cast<Function>(reinterpret_cast<void (*)()>(seamGetProcAddress(module, name)));
}
