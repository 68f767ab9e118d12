// --quarantine DIR and --restore DIR: every file the scan is about to
// change is first saved whole into DIR, and can be put back from there.
//
// DIR holds one entry per saved file, NNNNNNNN.vq: a header and the file's
// bytes made inert (no scanner and no double click sees a program in them),
// and a manifest, one line per event, fields separated by tabs:
//   saved     ID TIME SIZE SHA-256 PATH
//   done      ID TIME ACTION RESULT SHA-256-OF-WHAT-WAS-LEFT ("-" when gone)
//   restored  ID TIME
// An entry is written whole and flushed under a temporary name, then takes
// its name and gets its "saved" line; a save that fails leaves neither, and
// the file is not changed.
#pragma once

#include <vector>

#include "scan/front_end.h"

// Creates DIR (private to its owner) or opens it; false, said on standard
// error, when it cannot be used.
bool OpenQuarantine(const char* folder);
bool QuarantineActive();
void CloseQuarantine();

// The front end's SaveBeforeChange and NoteChangeDone while a quarantine is
// open; a failure is said on standard error.
bool SaveToQuarantine(const HandledEntry& file, FileHandle examined);
void RecordChange(HandledEntry* file, ChangeOutcome outcome, const char* curedCopy);

// Puts back the files saved in folder, all of them or those under paths;
// returns the exit status.
int RestoreFromQuarantine(const char* folder, const std::vector<const char*>& paths);
