// What lies inside the file in hand: the attachments of a mail folder and
// the entries of an archive (also of one that follows a program), each
// examined as a file is. Such a file is only ever read: removing a message
// is the mail program's job, and an entry the archiver's; doing it here
// wrongly would lose the user's mail or files.
#pragma once

#include <string>

#include "engine/check_context.h"
#include "engine/file_view.h"
#include "scan/scan_state.h"

struct InsideResult {
    Verdict worst = VerdictClean;  // Clean, Warning or Infected
    // Something the handling reports that is no threat: an entry that fails
    // its CRC, a folder read only up to its damage, entries not examined.
    bool noted = false;
};

// What a reader ahead of the handling found inside a file, kept for the
// handling to report in walk order: nothing is written to such a file, so
// what a reader read there is what the handling would read again.
struct InsideRecord {
    std::string statuses;   // each row's status, each ended by a NUL
    ScanCounters counted{};  // only what is counted inside files
    bool whole = false;     // false: not read to its end (stopped, or too much to keep)
};

// Reads what lies inside the file whose first bytes the view holds (nothing,
// at no cost, for a file that is neither mail nor an archive). Without a
// record, each finding becomes a row of path and is counted at once; with
// one (a reader ahead of the handling), rows and counts go there.
InsideResult ExamineInside(FileView* view, FileHandle file, const char* path, InsideRecord* record);

// The rows and counts of a record, as the reading would have made them.
void ReportRecorded(const char* path, const InsideRecord& record);
