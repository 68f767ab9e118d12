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

// The copy made of a file in use is the scan's own: it is neither saved
// before its treatment nor reported as saved.
bool handlingCopy = false;
// The cured copy that takes the place of the file in hand at the next
// restart, once that is scheduled (the path that reaches it); empty
// otherwise.
char curedCopy[ObjectPathSize];

enum class Examined { Unopened, Done, NotSaved };

// Opens read-only, detects and closes. Unopened also stands for what turns
// out not to be a regular file after all. A file found infected on the first
// pass is saved, when the front end keeps what it changes, while it is still
// open: NotSaved when that failed.
Examined Examine(HandledEntry* file, FileCheckContext* context, bool firstPass, Verdict* verdict) {
    context->file = OpenHandledFile(file, OpenMode::Read);
    if (context->file == InvalidFileHandle) return Examined::Unopened;
    *verdict = DetectThreat(context);
    Examined result = Examined::Done;
    if (*verdict != VerdictClean && !PinExaminedFile(file, context->file)) {
        result = Examined::Unopened;
    } else if (*verdict == VerdictInfected && firstPass && !detectOnly && !handlingCopy &&
               !SaveBeforeChange(*file, context->file)) {
        result = Examined::NotSaved;
    }
    // A copy's treatment reads lastVerdict: what was not examined is no cure.
    lastVerdict = result == Examined::Unopened ? VerdictOpenError : *verdict;
    FileClose(context->file);
    context->file = InvalidFileHandle;
    return result;
}

// The call that treats a copy reads lastVerdict to learn the copy's fate,
// so a failure must never leave a verdict behind that reads as a cure.
void Fail(const HandledEntry& file) {
    AddResultRow(file.path, UnableToDisinfectText);
    ScanStatistics.failed += 1;
    lastVerdict = VerdictInfected;
}

void DeleteFound(const HandledEntry& file) {
    if (DeleteHandledFile(file)) {
        AddResultRow(file.path, DeletedText);
        ScanStatistics.deleted += 1;
    } else if (file.name != nullptr && DeferredDelete(file.name)) {
        AddResultRow(file.path, DeletedAtRestartText);
        ScanStatistics.deletedAtRestart += 1;
    } else {
        Fail(file);
    }
    // Whatever became of this file, it was one to delete: a copy's original
    // is deleted in turn.
    lastVerdict = RepairDeleteFile;
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

// Makes the copy under the first free name, treats it, and puts it in the
// file's place at the next restart. copyShown and copyReach have room for
// the copy's two names: the one its rows show, beside the file's shown path,
// and the one that reaches it, beside the file.
void TreatCopyNamed(const HandledEntry& file, char* copyShown, char* copyReach) {
    uint32_t n = 0;
    for (; n < CopyNameCount; ++n) {
        FormCopyName(file.path, n, copyShown);
        FormCopyName(file.name, n, copyReach);
        if (!PathExists(copyReach)) break;
    }
    if (n == CopyNameCount || !CopyFileNew(file.name, copyReach)) {
        Fail(file);
        return;
    }
    AddResultRow(file.path, CopyMadeText);

    HandledEntry copied = EntryForPath(copyShown);
    copied.name = copyReach;
    const bool nested = handlingCopy;
    handlingCopy = true;
    HandleFile(&copied);
    handlingCopy = nested;

    if (lastVerdict == RepairDeleteFile) {
        DeleteFound(file);
        return;
    }
    if (lastVerdict != VerdictClean) {
        // The copy was not cured: it goes, and the file stays as it was.
        DeletePath(copyReach);
        Fail(file);
        return;
    }
    if (DeferredRename(copyReach, file.name)) {
        std::memcpy(curedCopy, copyReach, std::strlen(copyReach) + 1);
        ScanStatistics.disinfectedAtRestart += 1;
        AddResultRow(file.path, DisinfectedAtRestartText);
        return;
    }
    // The replacement could not be fully scheduled. Part of it may be (on
    // the NT family the file's deletion is asked for first), so the cured
    // copy stays: after a restart it may be all that is left of the file.
    Fail(file);
}

// The file cannot be opened for writing: treat a copy instead and leave the
// last step to the next restart. A copy that cannot be written in turn is
// treated through a copy of its own, so each level has its names.
void TreatCopy(const HandledEntry& file) {
    // The copy is made and put in place by path; a file handed over within
    // an open folder (the POSIX walk) is never resolved by its path again.
    const size_t reachLength = file.name != nullptr ? std::strlen(file.name) : ObjectPathSize;
    if (file.folder != ByPath || reachLength + CopySuffixLength >= ObjectPathSize) {
        Fail(file);  // the copy's name would not fit the path buffer
        return;
    }
    auto* copyShown = static_cast<char*>(BlockAlloc(std::strlen(file.path) + CopySuffixLength + 1));
    auto* copyReach = static_cast<char*>(BlockAlloc(reachLength + CopySuffixLength + 1));
    if (copyShown != nullptr && copyReach != nullptr) {
        TreatCopyNamed(file, copyShown, copyReach);
    } else {
        Fail(file);
    }
    BlockFree(copyShown);
    BlockFree(copyReach);
}

// Reports a verdict other than infected; true when the call is over.
bool ReportOtherVerdict(const HandledEntry& file, Verdict verdict, int pass, const FileCheckContext& context) {
    switch (verdict) {
        case VerdictClean:
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
bool RepairInPlace(HandledEntry* file, FileCheckContext* context) {
    ClearAttributes(*file);
    context->file = OpenHandledFile(file, OpenMode::ReadWrite);
    if (context->file == InvalidFileHandle) {
        // Without restart-time operations a treated copy could never take
        // the file's place; making one would only count a cure that never
        // reaches the user's file.
        if (HasRestartOperations()) {
            TreatCopy(*file);
        } else {
            Fail(*file);
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
            return true;
        case RepairDeleteFile:
            DeleteFound(*file);
            return false;
        case RepairOpenError:
            AddResultRow(file->path, OpenErrorText);
            ScanStatistics.openErrors += 1;
            Fail(*file);
            return false;
        default:
            Fail(*file);
            return false;
    }
}

// What the counters say became of a file since before; the first that
// applies, so that a copy deleted on its way does not hide the file's fate.
ChangeOutcome OutcomeSince(const ScanCounters& before) {
    if (ScanStatistics.failed != before.failed) return ChangeOutcome::Failed;
    if (ScanStatistics.disinfectedAtRestart != before.disinfectedAtRestart) return ChangeOutcome::DisinfectedAtRestart;
    if (ScanStatistics.deletedAtRestart != before.deletedAtRestart) return ChangeOutcome::DeletedAtRestart;
    if (ScanStatistics.deleted != before.deleted) return ChangeOutcome::Deleted;
    return ChangeOutcome::Disinfected;
}

// Examines, and repairs as long as a repair leaves an infection behind;
// true when the file was saved before its first change.
bool HandlePasses(HandledEntry* file) {
    FileCheckContext context;
    context.path = file->path;
    for (int pass = 0;; ++pass) {
        Verdict verdict = VerdictClean;
        const Examined examined = Examine(file, &context, pass == 0, &verdict);
        if (examined == Examined::Unopened) {
            if (pass == 0) NoteUnopenedFile(file->path);
            ReportUnopenable(file->path);
            return pass > 0;
        }
        if (ReportOtherVerdict(*file, verdict, pass, context)) return pass > 0;

        if (pass == 0) ScanStatistics.infected += 1;
        AddNamedRow(*file, InfectedPrefix, context.threatName);
        if (detectOnly) return false;
        if (examined == Examined::NotSaved || pass + 1 >= MaxPasses) {
            // Nothing is changed that could not be saved first.
            Fail(*file);
            return pass > 0;
        }
        if (!RepairInPlace(file, &context)) return true;
    }
}

}  // namespace

void HandleFile(HandledEntry* file) {
    ScanStatistics.files += 1;
    if (handlingCopy) {
        HandlePasses(file);
        return;
    }
    curedCopy[0] = '\0';
    const ScanCounters before = ScanStatistics;
    if (!HandlePasses(file)) return;
    const ChangeOutcome outcome = OutcomeSince(before);
    NoteChangeDone(file, outcome, outcome == ChangeOutcome::DisinfectedAtRestart ? curedCopy : nullptr);
}

void HandleFile() {
    HandledEntry file = EntryForPath(CurrentObjectPath);
    HandleFile(&file);
}
