// The per-file handling: examine, report, and repair, delete or treat a copy.
#pragma once

#include "scan/fs.h"

// Examines the file named in CurrentObjectPath.
void HandleFile();
// Examines the file in hand; an open may learn its identity.
void HandleFile(HandledEntry* file);
// A file a reader has examined and found clean: that verdict is final.
void CountCleanFile();
