// Whether the next restart will still act on a file: Windows carries out,
// as it starts, the replacements and deletions that a scan of a file in use
// asked for. A restore that put such a file back now would be undone then,
// or would see its work replaced by the cured copy; it is told to wait for
// the restart instead. Only Windows has such operations.
#pragma once

// True when a restart-time operation names path, as the file it replaces,
// deletes or moves away (PendingFileRenameOperations on the NT family, the
// [rename] section of wininit.ini on 95/98/Me).
bool NamedByPendingRestart(const char* path);
