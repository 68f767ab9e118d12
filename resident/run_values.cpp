#include "resident/resident_sweep.h"
#include "resident/run_values.h"
#include "resident/seams.h"

const char* const RunKeyPath = "Software\\Microsoft\\Windows\\CurrentVersion\\Run";

LONG(WINAPI* seamRegOpenKey)(HKEY, LPCSTR, DWORD, REGSAM, PHKEY) = RegOpenKeyExA;

namespace {

// Names are read with room for 254 characters; longer ones do not fit and
// are passed over, whatever they start with.
constexpr DWORD ValueNameSize = 255;

// Every deletion starts a fresh pass, so a pass is only needed after one
// succeeded; the cap keeps a key that another program refills without end
// from holding up the start of the program.
constexpr int MaxPasses = 1024;

enum PassResult { NothingDeleted, DeletedOne, KeyUnavailable };

PassResult DeleteFirstThreatValue() {
    HKEY key = nullptr;
    if (seamRegOpenKey(HKEY_LOCAL_MACHINE, RunKeyPath, 0, KEY_ALL_ACCESS, &key) != ERROR_SUCCESS) {
        return KeyUnavailable;
    }
    DWORD valueCount = 0;
    if (RegQueryInfoKeyA(key, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, &valueCount, nullptr, nullptr,
                         nullptr, nullptr) != ERROR_SUCCESS) {
        RegCloseKey(key);
        return KeyUnavailable;
    }
    PassResult result = NothingDeleted;
    for (DWORD index = 0; index < valueCount; ++index) {
        char name[ValueNameSize];
        DWORD nameLength = ValueNameSize;
        if (RegEnumValueA(key, index, name, &nameLength, nullptr, nullptr, nullptr, nullptr) != ERROR_SUCCESS) continue;
        if (!HasThreatPrefix(name)) continue;
        // A value that cannot be deleted (for instance one whose name does
        // not survive the conversion to the ANSI code page) keeps its index,
        // so the pass goes on past it instead of finding it again for ever.
        if (RegDeleteValueA(key, name) == ERROR_SUCCESS) {
            result = DeletedOne;
            break;
        }
    }
    RegCloseKey(key);
    return result;
}

}  // namespace

// Only value names are tested; the command lines they hold do not matter.
// Nothing is reported to the user.
void RemoveThreatRunValues() {
    for (int pass = 0; pass < MaxPasses; ++pass) {
        if (DeleteFirstThreatValue() != DeletedOne) return;
    }
}
