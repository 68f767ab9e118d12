// --quarantine DIR and --restore DIR: every file the scan is about to
// change is first saved whole into DIR, and can be put back from there.
//
// DIR holds one entry per saved file, NNNNNNNN.vq: a header and the file's
// bytes made inert (no scanner and no double click sees a program in them),
// and a manifest, manifest.txt, one line per event, fields separated by tabs:
//   velmora-quarantine  2           (the first line: the format's version)
//   saved     ID TIME SIZE SHA-256 USER GROUP MODE PATH
//   done      ID TIME ACTION RESULT SHA-256-OF-WHAT-WAS-LEFT ("-" when gone)
//   restored  ID TIME
// ID is the entry's number in eight hexadecimal digits; PATH the file's
// absolute path, escaped as in the rows; USER and GROUP the numbers of its
// owner and group, MODE its permission bits in four octal digits ("-" for
// all three where the platform has none). Version 1, without the first
// line, had "saved ID TIME SIZE SHA-256 PATH"; such lines are still read,
// and restored without an owner. Only the name that was scanned comes back:
// the restore puts a new file in its place, so another hard link to the
// original keeps what the scan left in it (the cured bytes), and links that
// the scan deleted one by one come back as separate files.
//
// An entry is written whole and flushed under NNNNNNNN.part, a name taken
// exclusively, then takes its name and gets its "saved" line; a save that
// fails leaves neither, and the file is not changed. Lines are appended
// under the manifest's lock, so any number of scanners can share DIR.
#pragma once

#include <string>
#include <vector>

#include "cli/quarantine_format.h"
#include "scan/front_end.h"

// Takes DIR for this run (made, when create is set and it is missing) and
// reads its manifest; false, said on standard error, when DIR cannot be
// used or trusted or its manifest read. The scan and the restore both start
// here.
bool LoadQuarantine(const char* folder, bool create, std::string* text, ManifestContents* contents);

// Creates DIR (private to its owner) or opens it; false, said on standard
// error, when it cannot be used or cannot be trusted (see
// quarantine_folder.h).
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
