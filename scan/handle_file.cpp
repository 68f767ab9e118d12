#include <cstdio>
#include <cstring>

#include "engine/check_context.h"
#include "engine/detectors.h"
#include "platform/text.h"
#include "scan/deferred.h"
#include "scan/front_end.h"
#include "scan/fs.h"
#include "scan/repair.h"
#include "scan/handle_file.h"
#include "scan/inside.h"
#include "scan/scan_state.h"
#include "scan/texts.h"

namespace {

const char* const ExecutableExtensions[] = {"exe", "com", "dll", "ocx", "scr", "cpl", "pif", "lnk", "bat", "cmd"};

// Only files with an executable extension are worth a row when they cannot
// be opened; the text after the last dot of the whole path must match.
void ReportUnopenable(const char* path) {
    if (detectOnly) return;  // the read-only mode reports findings only
    const char* dot = std::strrchr(path, '.');
    if (dot == nullptr) return;
    for (const char* extension : ExecutableExtensions) {
        if (EqualsIgnoringCase(dot + 1, extension)) {
            AddResultRow(path, UnableToOpenText);
            return;
        }
    }
}

void AddNamedRow(const HandledEntry& file, const char* prefix, ThreatName threat) {
    char text[256];
    std::snprintf(text, sizeof text, "%s%s", prefix, threat != nullptr ? threat->text : "");
    AddResultRow(file.path, text);
}

// A repair that reports success but leaves the same infection behind would
// otherwise be examined and repaired again for ever.
constexpr int MaxPasses = 256;
constexpr uint32_t CopyNameCount = 0x1000;  // ".zq-000" to ".zq-FFF"
constexpr size_t CopySuffixLength = 7;

// What the handling made of one file. A copy's outcome tells its original
// what to do next; the file in hand's tells the front end what became of it.
enum class Fate {
    Clean,     // found clean, or, after a repair, found clean again
    Reported,  // a finding that is only reported, or a file not examined
    Cured,     // repaired in place
    Deleted,
    DeletedAtRestart,
    CuredAtRestart,  // a cured copy takes its place at the next restart
    Failed,          // left as it was found: "incapaz de desinfectar"
};

struct Outcome {
    Fate fate = Fate::Clean;
    // Saved by the front end before its first change.
    bool saved = false;
    // The whole file is the threat: a copy's original is deleted in turn,
    // whatever became of the copy itself.
    bool wholeFileThreat = false;
    // CuredAtRestart: the path that reaches the cured copy (BlockAlloc'd).
    char* curedCopy = nullptr;
};

Outcome HandleOne(HandledEntry* file, bool isCopy);

enum class Examined { Unopened, Done, NotSaved };

// Detects over one view of the file, whose first bytes also tell whether
// anything lies inside it; that is reported once, from the first pass.
Verdict DetectOwnAndInside(const HandledEntry& file, FileCheckContext* context, bool inside) {
    FileView view;
    OpenFileView(&view, context->file);
    const Verdict verdict = DetectThreatInView(&view, &context->threatName);
    if (inside) ExamineInside(&view, context->file, file.path, nullptr);
    return verdict;
}

// Opens read-only, detects and closes. Unopened also stands for what turns
// out not to be a regular file after all. A file found infected is saved,
// when saveFirst and the front end keeps what it changes, while it is still
// open: NotSaved when that failed.
Examined Examine(HandledEntry* file, FileCheckContext* context, bool saveFirst, bool inside, Verdict* verdict) {
    context->file = OpenHandledFile(file, OpenMode::Read);
    if (context->file == InvalidFileHandle) return Examined::Unopened;
    *verdict = DetectOwnAndInside(*file, context, inside);
    Examined result = Examined::Done;
    if (*verdict != VerdictClean && !PinExaminedFile(file, context->file)) {
        result = Examined::Unopened;
    } else if (*verdict == VerdictInfected && saveFirst && !SaveBeforeChange(*file, context->file)) {
        result = Examined::NotSaved;
    }
    FileClose(context->file);
    context->file = InvalidFileHandle;
    return result;
}

Fate Fail(const HandledEntry& file) {
    AddResultRow(file.path, UnableToDisinfectText);
    ScanStatistics.failed += 1;
    return Fate::Failed;
}

Fate DeleteFound(const HandledEntry& file) {
    if (DeleteHandledFile(file)) {
        AddResultRow(file.path, DeletedText);
        ScanStatistics.deleted += 1;
        return Fate::Deleted;
    }
    if (file.name != nullptr && DeferredDelete(file.name)) {
        AddResultRow(file.path, DeletedAtRestartText);
        ScanStatistics.deletedAtRestart += 1;
        return Fate::DeletedAtRestart;
    }
    return Fail(file);
}

// The copy's name: the file's own path and ".zq-" with the number n in
// three hex digits, into out, which has room for it.
void FormCopyName(const char* path, uint32_t n, char* out) {
    static const char Hex[] = "0123456789ABCDEF";
    const size_t length = std::strlen(path);
    std::memcpy(out, path, length);
    std::memcpy(out + length, ".zq-", 4);
    for (uint32_t digit = 0; digit < 3; ++digit) out[length + 6 - digit] = Hex[(n >> (4 * digit)) & 0xFu];
    out[length + CopySuffixLength] = '\0';
}

// The copy that takes the file's place at the next restart is on the disk
// before the request that puts it there: after a power cut, Windows would
// otherwise put in place of the user's program a copy whose bytes never
// arrived. A cured copy was flushed by its repair already; a copy found
// clean at once was not.
bool FlushCopy(const char* copyReach) {
    const FileHandle copy = FileOpen(copyReach, OpenMode::ReadWrite);
    const bool flushed = FileFlush(copy);
    return FileClose(copy) != 0 && flushed;
}

// Makes the copy under the first free name, treats it, and puts it in the
// file's place at the next restart. copyShown and copyReach have room for
// the copy's two names: the one its rows show, beside the file's shown path,
// and the one that reaches it, beside the file. On CuredAtRestart the
// outcome takes copyReach.
void TreatCopyNamed(const HandledEntry& file, char* copyShown, char* copyReach, Outcome* outcome) {
    uint32_t n = 0;
    for (; n < CopyNameCount; ++n) {
        FormCopyName(file.path, n, copyShown);
        FormCopyName(file.name, n, copyReach);
        if (!PathExists(copyReach)) break;
    }
    if (n == CopyNameCount || !CopyFileNew(file.name, copyReach)) {
        outcome->fate = Fail(file);
        return;
    }
    AddResultRow(file.path, CopyMadeText);

    HandledEntry copied = EntryForPath(copyShown);
    copied.name = copyReach;
    const Outcome ofCopy = HandleOne(&copied, true);
    BlockFree(ofCopy.curedCopy);

    if (ofCopy.wholeFileThreat) {
        outcome->wholeFileThreat = true;
        outcome->fate = DeleteFound(file);
        return;
    }
    // A copy cured through a copy of its own had that one flushed, which
    // takes its place first.
    const bool cured = ofCopy.fate == Fate::Clean || ofCopy.fate == Fate::Cured;
    const bool onDisk = ofCopy.fate == Fate::CuredAtRestart || (cured && FlushCopy(copyReach));
    if (!onDisk) {
        // The copy was not cured, or is not safely on the disk: it goes, and
        // the file stays as it was.
        DeletePath(copyReach);
        outcome->fate = Fail(file);
        return;
    }
    if (DeferredRename(copyReach, file.name)) {
        outcome->curedCopy = copyReach;
        outcome->fate = Fate::CuredAtRestart;
        ScanStatistics.disinfectedAtRestart += 1;
        AddResultRow(file.path, DisinfectedAtRestartText);
        return;
    }
    // The replacement could not be fully scheduled. Part of it may be (on
    // the NT family the file's deletion is asked for first), so the cured
    // copy stays: after a restart it may be all that is left of the file.
    outcome->fate = Fail(file);
}

// The file cannot be opened for writing: treat a copy instead and leave the
// last step to the next restart. A copy that cannot be written in turn is
// treated through a copy of its own, so each level has its names.
void TreatCopy(const HandledEntry& file, Outcome* outcome) {
    // The copy is made and put in place by path; a file handed over within
    // an open folder (the POSIX walk) is never resolved by its path again.
    const size_t reachLength = file.name != nullptr ? std::strlen(file.name) : ObjectPathSize;
    if (file.folder != ByPath || reachLength + CopySuffixLength >= ObjectPathSize) {
        outcome->fate = Fail(file);  // the copy's name would not fit the path buffer
        return;
    }
    auto* copyShown = static_cast<char*>(BlockAlloc(std::strlen(file.path) + CopySuffixLength + 1));
    auto* copyReach = static_cast<char*>(BlockAlloc(reachLength + CopySuffixLength + 1));
    if (copyShown != nullptr && copyReach != nullptr) {
        TreatCopyNamed(file, copyShown, copyReach, outcome);
    } else {
        outcome->fate = Fail(file);
    }
    BlockFree(copyShown);
    if (outcome->curedCopy != copyReach) BlockFree(copyReach);
}

// Reports a verdict other than infected; true when the handling is over.
// After a repair, a file found clean again is a cure.
bool ReportOtherVerdict(const HandledEntry& file, Verdict verdict, int pass, const FileCheckContext& context,
                        Outcome* outcome) {
    outcome->fate = Fate::Reported;
    switch (verdict) {
        case VerdictClean:
            outcome->fate = Fate::Clean;
            if (pass > 0) ScanStatistics.disinfected += 1;
            return true;
        case VerdictInfected:
            return false;
        case VerdictSuspicious:
            AddNamedRow(file, SuspiciousPrefix, context.threatName);
            ScanStatistics.suspicious += 1;
            return true;
        case VerdictOpenError:
            AddResultRow(file.path, OpenErrorText);
            ScanStatistics.openErrors += 1;
            return true;
        case VerdictWarning:
            AddNamedRow(file, WarningPrefix, context.threatName);
            ScanStatistics.warnings += 1;
            return true;
        default:
            return true;
    }
}

// Repairs, deletes or treats a copy of the file in hand, which was just
// found infected; true when the repaired file is to be examined again.
bool RepairInPlace(HandledEntry* file, FileCheckContext* context, Outcome* outcome) {
    ClearAttributes(*file);
    context->file = OpenHandledFile(file, OpenMode::ReadWrite);
    if (context->file == InvalidFileHandle) {
        // Without restart-time operations a treated copy could never take
        // the file's place; making one would only count a cure that never
        // reaches the user's file.
        if (HasRestartOperations()) {
            TreatCopy(*file, outcome);
        } else {
            outcome->fate = Fail(*file);
        }
        return false;
    }
    RepairResult result = RepairFile(context);
    // A close that fails may have lost the last writes.
    if (FileClose(context->file) == 0 && result == RepairDone) result = RepairWriteFailed;
    context->file = InvalidFileHandle;

    switch (result) {
        case RepairDone:
            AddResultRow(file->path, DisinfectedText);
            outcome->fate = Fate::Cured;
            return true;
        case RepairDeleteFile:
            outcome->wholeFileThreat = true;
            outcome->fate = DeleteFound(*file);
            return false;
        case RepairOpenError:
            AddResultRow(file->path, OpenErrorText);
            ScanStatistics.openErrors += 1;
            outcome->fate = Fail(*file);
            return false;
        default:
            outcome->fate = Fail(*file);
            return false;
    }
}

// Examines, and repairs as long as a repair leaves an infection behind.
// The scan's own copy of a file in use is never saved.
Outcome HandlePasses(HandledEntry* file, bool isCopy) {
    Outcome outcome;
    FileCheckContext context;
    context.path = file->path;
    for (int pass = 0;; ++pass) {
        Verdict verdict = VerdictClean;
        const bool saveFirst = pass == 0 && !detectOnly && !isCopy;
        // A copy made for a file in use is the file whose insides were read.
        const Examined examined = Examine(file, &context, saveFirst, pass == 0 && !isCopy, &verdict);
        if (examined == Examined::Unopened) {
            if (pass == 0) NoteUnopenedFile(file->path);
            ReportUnopenable(file->path);
            outcome.fate = Fate::Reported;
            return outcome;
        }
        if (ReportOtherVerdict(*file, verdict, pass, context, &outcome)) return outcome;

        if (pass == 0) ScanStatistics.infected += 1;
        AddNamedRow(*file, InfectedPrefix, context.threatName);
        if (detectOnly) return outcome;
        if (saveFirst && examined == Examined::Done) outcome.saved = true;
        if (examined == Examined::NotSaved || pass + 1 >= MaxPasses) {
            // Nothing is changed that could not be saved first.
            outcome.fate = Fail(*file);
            return outcome;
        }
        if (!RepairInPlace(file, &context, &outcome)) return outcome;
    }
}

Outcome HandleOne(HandledEntry* file, bool isCopy) {
    ScanStatistics.files += 1;
    return HandlePasses(file, isCopy);
}

// What the front end keeps of a saved file's fate. A saved file was found
// infected, so a later clean verdict or mere report follows a repair.
ChangeOutcome ChangeOutcomeOf(Fate fate) {
    switch (fate) {
        case Fate::Deleted: return ChangeOutcome::Deleted;
        case Fate::DeletedAtRestart: return ChangeOutcome::DeletedAtRestart;
        case Fate::CuredAtRestart: return ChangeOutcome::DisinfectedAtRestart;
        case Fate::Failed: return ChangeOutcome::Failed;
        default: return ChangeOutcome::Disinfected;
    }
}

}  // namespace

void HandleFile(HandledEntry* file) {
    const Outcome outcome = HandleOne(file, false);
    if (outcome.saved) NoteChangeDone(file, ChangeOutcomeOf(outcome.fate), outcome.curedCopy);
    BlockFree(outcome.curedCopy);
}

void CountCleanFile() { ScanStatistics.files += 1; }

void HandleFile() {
    HandledEntry file = EntryForPath(CurrentObjectPath);
    HandleFile(&file);
}
