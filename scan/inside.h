// What lies inside the file in hand: the attachments of a mail folder and
// the entries of an archive (also of one that follows a program), each
// examined as a file is. Such a file is only ever read: removing a message
// is the mail program's job, and an entry the archiver's; doing it here
// wrongly would lose the user's mail or files.
#pragma once

#include "engine/check_context.h"
#include "engine/file_view.h"

struct InsideResult {
    Verdict worst = VerdictClean;  // Clean, Warning or Infected
    // Something the handling reports that is no threat: an entry that fails
    // its CRC, a folder read only up to its damage, entries not examined.
    bool noted = false;
};

// Reads what lies inside the file whose first bytes the view holds (nothing,
// at no cost, for a file that is neither mail nor an archive). With report,
// each finding becomes a row of path and is counted; without (a reader
// ahead of the handling), nothing is reported, and the reading ends at the
// first threat.
InsideResult ExamineInside(FileView* view, FileHandle file, const char* path, bool report);
