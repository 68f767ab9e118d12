// --restore DIR [PATH...]: puts back what a quarantined scan saved.
//
// A file is only ever written where nothing is, or where what is there is
// exactly what the scan left: a file changed since (a newer program, a
// restore from elsewhere) is reported and left alone. Every saved copy is
// checked against its header, its size and its digest before it takes a
// file's place, and is written beside it under a temporary name that never
// outlives the restore. The manifest is data: a line that is none the
// scanner writes is named and not obeyed, and a file is reached only by the
// way the scan recorded (see restore_target.h).
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <string>
#include <vector>

#include "cli/messages.h"
#include "cli/pending_restart.h"
#include "cli/quarantine.h"
#include "cli/quarantine_folder.h"
#include "cli/quarantine_format.h"
#include "cli/restore_target.h"
#include "cli/row_text.h"
#include "cli/system_error.h"
#include "cli/texts.h"
#include "engine/sha256.h"
#include "platform/text.h"
#include "scan/front_end.h"

namespace {

// Windows spells names in any case; POSIX names differ by case.
bool Under(const std::string& path, const std::string& root) {
    const size_t length = root.size();
    const bool begins = PathSeparator == '\\' ? StartsWithIgnoringCase(path.c_str(), root.c_str())
                                              : path.compare(0, length, root) == 0;
    if (!begins) return false;
    return path.size() == length || path[length] == PathSeparator || (length > 0 && root[length - 1] == PathSeparator);
}

// The paths asked for, each in the recorded paths' form: as written, and
// with its links resolved where that differs.
struct Selection {
    const char* given;
    std::string written;
    std::string real;
    bool met = false;
};

bool Chosen(const std::string& path, std::vector<Selection>* selections) {
    bool chosen = selections->empty();
    for (Selection& selection : *selections) {
        if (Under(path, selection.written) || Under(path, selection.real)) selection.met = chosen = true;
    }
    return chosen;
}

// Each refused line is named by its number and shown as it is (cut short
// when long, tabs as spaces, control bytes escaped).
void ReportRefusedLines(const std::string& text, const ManifestContents& contents) {
    constexpr size_t ShownLength = 1000;
    const char* manifest = ManifestShownPath().c_str();
    char number[160];
    uint64_t lineNumber = 1;
    size_t at = 0;
    for (const uint64_t line : contents.refusedLines) {
        for (; lineNumber < line && at < text.size(); ++lineNumber) at = text.find('\n', at) + 1;
        std::string shown = text.substr(at, std::min(text.find('\n', at) - at, ShownLength));
        for (char& c : shown) c = c == '\t' ? ' ' : c;
        std::snprintf(number, sizeof number, ManifestLineRefusedFormat, static_cast<unsigned long long>(line));
        std::string reason = number;
        AppendShownText(&reason, shown.c_str());
        ReportScanError(manifest, reason.c_str());
    }
    if (contents.refusedCount > contents.refusedLines.size()) {
        std::snprintf(number, sizeof number, ManifestMoreRefusedFormat,
                      static_cast<unsigned long long>(contents.refusedCount - contents.refusedLines.size()));
        ReportScanError(manifest, number);
    }
}

// Decodes the saved copy into out, checked against its header and its
// line as it goes: no more is ever written than the header says, and a
// copy that holds more is damaged.
TargetStatus Decode(FileHandle entry, const SavedEntry& saved, FileHandle out, int* error) {
    uint8_t header[EntryHeaderSize];
    uint32_t size = 0;
    uint32_t entrySize = 0;
    if (FileRead(entry, header, EntryHeaderSize) != EntryHeaderSize || !ReadEntryHeader(header, &size) ||
        size != saved.size || !FileGetSize(entry, &entrySize) || entrySize < EntryHeaderSize ||
        entrySize - EntryHeaderSize != size) {
        return TargetStatus::Damaged;
    }
    Sha256 hash;
    Sha256Start(&hash);
    uint32_t done = 0;
    for (;;) {
        const uint32_t n = FileRead(entry, copyChunk, CopyChunkSize);
        if (n > size - done) return TargetStatus::Damaged;
        ToggleInert(copyChunk, n, done);
        Sha256Add(&hash, copyChunk, n);
        if (FileWrite(out, copyChunk, n) != n) {
            *error = LastSystemError();
            return IsDiskFullError(*error) ? TargetStatus::DiskFull : TargetStatus::Failed;
        }
        done += n;
        if (n < CopyChunkSize) break;
    }
    char hex[65];
    Sha256Hex(&hash, hex);
    return done == size && saved.sha == hex ? TargetStatus::Done : TargetStatus::Damaged;
}

// Says why a file was not put back.
void ReportStatus(const std::string& path, const std::string& entryPath, TargetStatus status, int error) {
    const char* shown = path.c_str();
    switch (status) {
        case TargetStatus::Done: return;
        case TargetStatus::Gone: ReportScanError(shown, RestoreGoneText, error); return;
        case TargetStatus::Link: ReportScanError(shown, RestoreLinkText); return;
        case TargetStatus::NotFile: ReportScanError(shown, RestoreNotFileText); return;
        case TargetStatus::Changed: ReportScanError(shown, RestoreChangedText); return;
        case TargetStatus::DiskFull: ReportScanError(shown, RestoreDiskFullText, error); return;
        case TargetStatus::Damaged: ReportScanError(entryPath.c_str(), RestoreDamagedText); return;
        case TargetStatus::Failed: ReportScanError(shown, RestoreFailedText, error); return;
    }
}

// Writes the saved copy beside the target and puts it in its place.
TargetStatus PutBack(RestoreTarget* target, const SavedEntry& saved, FileHandle entry, int* error) {
    TargetStatus status = CreateTemporary(target, error);
    if (status != TargetStatus::Done) return status;
    status = Decode(entry, saved, target->written, error);
    if (status != TargetStatus::Done) return status;
    bool ownerKept = true;
    status = FinishTemporary(target, saved.owner, &ownerKept, error);
    if (status != TargetStatus::Done) return status;
    status = PlaceTarget(target, error);
    if (status == TargetStatus::Done && !ownerKept) ReportScanNote(saved.path.c_str(), RestoreOwnerLostText);
    return status;
}

// Puts one saved file back; false when it could not, said on standard error.
bool Restore(const std::string& folder, const SavedEntry& saved) {
    const std::string entryPath = InFolder(folder, saved.id + ".vq");
    // Put back now, it would be undone by the restart, or its work replaced.
    // Operations that cannot be read may name it too.
    int pendingError = 0;
    switch (PendingRestartOn(saved.path.c_str(), &pendingError)) {
        case PendingRestart::None: break;
        case PendingRestart::Named: ReportScanError(saved.path.c_str(), RestorePendingRestartText); return false;
        case PendingRestart::Unknown:
            ReportScanError(saved.path.c_str(), PendingRestartUnknownText, pendingError);
            return false;
    }
    RestoreTarget target;
    int error = 0;
    TargetStatus status = ReachTarget(saved.path, &target, &error);
    char now[65] = "";
    if (status == TargetStatus::Done) {
        status = HashTarget(&target, now, &error);
        if (status == TargetStatus::Failed) {
            ReportScanError(saved.path.c_str(), RestoreUnreadableText, error);
            CloseTarget(&target);
            return false;
        }
    }
    if (status == TargetStatus::Done && target.exists) {
        if (saved.sha == now) {  // back already: nothing to write
            CloseTarget(&target);
            return true;
        }
        if (saved.left.empty() || saved.left == "-" || saved.left != now) status = TargetStatus::Changed;
    }
    if (status == TargetStatus::Done) {
        FileHandle entry = OpenEntry(saved.id);
        if (entry == InvalidFileHandle) {
            ReportScanError(entryPath.c_str(), RestoreEntryUnreadableText, LastSystemError());
            CloseTarget(&target);
            return false;
        }
        status = PutBack(&target, saved, entry, &error);
        FileClose(entry);
    }
    ReportStatus(saved.path, entryPath, status, error);
    // The temporary file goes whatever happened, unless it took the
    // target's place.
    CloseTarget(&target);
    return status == TargetStatus::Done;
}

}  // namespace

int RestoreFromQuarantine(const char* folder, const std::vector<const char*>& paths) {
    std::string text;
    ManifestContents contents;
    if (!LoadQuarantine(folder, false, &text, &contents)) return 2;
    ReportRefusedLines(text, contents);
    IgnoreFileSizeLimitSignal();
    std::vector<Selection> selections;
    for (const char* path : paths) {
        selections.push_back(Selection{path, AbsoluteForm(path, false), AbsoluteForm(path, true)});
    }
    for (const SavedEntry& saved : contents.saved) {
        if (!Chosen(saved.path, &selections) || saved.restored) continue;
        if (!Restore(folder, saved)) continue;
        AddResultRow(saved.path.c_str(), RestoredText);
        // Told last, once the file is on the disk: a restore cut short
        // before this line is simply done again, and finds the file back
        // already.
        if (!AppendManifest(RestoredLine(saved.id))) {
            ReportScanError(ManifestShownPath().c_str(), QuarantineRecordFailedText, LastSystemError());
        }
    }
    LeaveQuarantineFolder();
    for (const Selection& selection : selections) {
        if (!selection.met) ReportScanError(selection.given, RestoreNothingSavedText);
    }
    return scanErrors || outputFailed ? 2 : 0;
}
