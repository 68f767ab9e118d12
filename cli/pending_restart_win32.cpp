// Names are compared as the system stores them (adapters/pending_operations_win32.h),
// ignoring the case of ASCII letters, as the program compares names
// everywhere.
#include <windows.h>

#include <memory>
#include <string>
#include <vector>

#include "adapters/pending_operations_win32.h"
#include "adapters/system_path_win32.h"
#include "cli/pending_restart.h"
#include "platform/family.h"

namespace {

// A path with no NT form cannot be the name of an operation either.
PendingRestart OnNt(const char* path, int* error) {
    const auto wide = std::make_unique<SystemPath>();
    if (!ToVerbatimPath(path, wide.get())) return PendingRestart::None;
    const std::wstring own = ComparableName(wide->text, wide->length);
    std::vector<PendingMove> moves;
    if (ReadPendingMoves(&moves, error) != PendingRead::Read) return PendingRestart::Unknown;
    for (const PendingMove& move : moves) {
        if (move.from == own || move.to == own) return PendingRestart::Named;
    }
    return PendingRestart::None;
}

PendingRestart On9x(const char* path, int* error) {
    std::vector<std::string> own = {UpperAscii(path)};
    char shortPath[MAX_PATH];
    const DWORD length = GetShortPathNameA(path, shortPath, MAX_PATH);
    if (length != 0 && length < MAX_PATH) own.push_back(UpperAscii(shortPath));
    std::vector<WininitRename> renames;
    if (ReadWininitRenames(&renames, error) != PendingRead::Read) return PendingRestart::Unknown;
    for (const WininitRename& rename : renames) {
        for (const std::string& name : own) {
            const bool named = rename.target == name || (!rename.source.empty() && rename.source == name);
            if (named) return PendingRestart::Named;
        }
    }
    return PendingRestart::None;
}

}  // namespace

PendingRestart PendingRestartOn(const char* path, int* error) {
    *error = 0;
    return IsNtFamily() ? OnNt(path, error) : On9x(path, error);
}
