// Whether the next restart will still act on a file: Windows carries out,
// as it starts, the replacements and deletions that a scan of a file in use
// asked for. A restore that put such a file back now would be undone then,
// or would see its work replaced by the cured copy; it is told to wait for
// the restart instead. Only Windows has such operations.
#pragma once

enum class PendingRestart {
    None,   // no restart-time operation names the file
    Named,  // one does: it replaces, deletes or moves the file away
    // The operations could not be read, so none can be ruled out: the
    // restore refuses rather than risk being undone at the restart.
    Unknown,
};

// Looks path up among the restart-time operations (PendingFileRenameOperations
// on the NT family, the [rename] section of wininit.ini on 95/98/Me). On
// Unknown, *error holds the system's reason.
PendingRestart PendingRestartOn(const char* path, int* error);

inline constexpr char PendingRestartUnknownText[] =
    "cannot tell whether Windows will replace or delete it at the next restart; not restored";
