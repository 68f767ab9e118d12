// The machine-wide startup key that the sweep cleans.
#pragma once

extern const char* const RunKeyPath;  // under HKEY_LOCAL_MACHINE
