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
void ReportUnopenable() {
    if (detectOnly) return;  // the read-only mode reports findings only
    const char* dot = std::strrchr(handledObjectPath, '.');
    if (dot == nullptr) return;
    for (const char* extension : ExecutableExtensions) {
        if (EqualsIgnoringCase(dot + 1, extension)) {
            AddResultRow(handledObjectPath, UnableToOpenText);
            return;
        }
    }
}

void AddNamedRow(const char* prefix, ThreatName threat) {
    char text[ObjectPathSize];
    std::snprintf(text, sizeof text, "%s%s", prefix, threat != nullptr ? threat->text : "");
    AddResultRow(handledObjectPath, text);
}

// A repair that reports success but leaves the same infection behind would
// otherwise be examined and repaired again for ever.
constexpr int MaxPasses = 256;
constexpr uint32_t CopyNameCount = 0x1000;  // ".zq-000" to ".zq-FFF"
constexpr size_t CopySuffixLength = 7;

// Opens read-only, detects and closes; -1 when the file cannot be opened.
int Examine(FileCheckContext* context) {
    context->file = OpenHandledFile(context->path, OpenMode::Read);
    if (context->file == InvalidFileHandle) return -1;
    int verdict = DetectThreat(context);
    if (verdict != VerdictClean && !PinExaminedFile(context->path, context->file)) verdict = -1;
    lastVerdict = verdict;
    FileClose(context->file);
    context->file = InvalidFileHandle;
    return verdict;
}

// The call that treats a copy reads lastVerdict to learn the copy's fate,
// so a failure must never leave a verdict behind that reads as a cure.
void Fail() {
    AddResultRow(handledObjectPath, UnableToDisinfectText);
    ScanStatistics.failed += 1;
    lastVerdict = VerdictInfected;
}

void DeleteHandledFile() {
    if (DeletePath(handledObjectPath)) {
        AddResultRow(handledObjectPath, DeletedText);
        ScanStatistics.deleted += 1;
    } else if (DeferredDelete(handledObjectPath)) {
        AddResultRow(handledObjectPath, DeletedAtRestartText);
        ScanStatistics.deletedAtRestart += 1;
    } else {
        Fail();
    }
    // Whatever became of this file, it was one to delete: a copy's original
    // is deleted in turn.
    lastVerdict = RepairDeleteFile;
}

// The file cannot be opened for writing: treat a copy instead and leave the
// last step to the next restart.
void TreatCopy() {
    const size_t length = std::strlen(CurrentObjectPath);
    // The copy's name is formed in the shared path buffer; a path held
    // elsewhere (a walk without length limits) cannot take that way.
    if (handledObjectPath != CurrentObjectPath || length + CopySuffixLength >= ObjectPathSize) {
        Fail();  // the copy's name would not fit the path buffer
        return;
    }
    char copy[ObjectPathSize];
    std::memcpy(copy, CurrentObjectPath, length);
    std::memcpy(copy + length, ".zq-", 4);
    copy[length + CopySuffixLength] = '\0';
    uint32_t n = 0;
    for (; n < CopyNameCount; ++n) {
        static const char Hex[] = "0123456789ABCDEF";
        for (uint32_t digit = 0; digit < 3; ++digit) copy[length + 6 - digit] = Hex[(n >> (4 * digit)) & 0xFu];
        if (!PathExists(copy)) break;
    }
    if (n == CopyNameCount || !CopyFileNew(CurrentObjectPath, copy)) {
        Fail();
        return;
    }
    AddResultRow(CurrentObjectPath, CopyMadeText);

    std::memcpy(CurrentObjectPath, copy, length + CopySuffixLength + 1);
    HandleFile();
    CurrentObjectPath[length] = '\0';

    if (lastVerdict == RepairDeleteFile) {
        DeleteHandledFile();
        return;
    }
    if (lastVerdict != VerdictClean) {
        // The copy was not cured: it goes, and the file stays as it was.
        DeletePath(copy);
        Fail();
        return;
    }
    if (DeferredRename(copy, CurrentObjectPath)) {
        ScanStatistics.disinfectedAtRestart += 1;
        AddResultRow(CurrentObjectPath, DisinfectedAtRestartText);
        return;
    }
    // The replacement could not be fully scheduled. Part of it may be (on
    // the NT family the file's deletion is asked for first), so the cured
    // copy stays: after a restart it may be all that is left of the file.
    Fail();
}

// Reports a verdict other than 1; true when the call is over.
bool ReportOtherVerdict(int verdict, int pass, const FileCheckContext& context) {
    switch (verdict) {
        case -1:
            if (pass == 0 && noteUnopenedFile != nullptr) noteUnopenedFile(handledObjectPath);
            ReportUnopenable();
            return true;
        case VerdictClean:
            if (pass > 0) ScanStatistics.disinfected += 1;
            return true;
        case VerdictInfected:
            return false;
        case VerdictSuspicious:
            AddNamedRow(SuspiciousPrefix, context.threatName);
            ScanStatistics.suspicious += 1;
            return true;
        case VerdictOpenError:
            AddResultRow(handledObjectPath, OpenErrorText);
            ScanStatistics.openErrors += 1;
            return true;
        case VerdictWarning:
            AddNamedRow(WarningPrefix, context.threatName);
            ScanStatistics.warnings += 1;
            return true;
        default:
            return true;
    }
}

}  // namespace

void HandleFile() {
    ScanStatistics.files += 1;
    FileCheckContext context;
    context.path = handledObjectPath;

    for (int pass = 0;; ++pass) {
        const int verdict = Examine(&context);
        if (ReportOtherVerdict(verdict, pass, context)) return;

        if (pass == 0) ScanStatistics.infected += 1;
        AddNamedRow(InfectedPrefix, context.threatName);
        if (detectOnly) return;
        if (pass + 1 >= MaxPasses) {
            Fail();
            return;
        }

        ClearAttributes(handledObjectPath);
        context.file = OpenHandledFile(handledObjectPath, OpenMode::ReadWrite);
        if (context.file == InvalidFileHandle) {
            // Without restart-time operations a treated copy could never
            // take the file's place; making one would only count a cure that
            // never reaches the user's file.
            if (HasRestartOperations()) {
                TreatCopy();
            } else {
                Fail();
            }
            return;
        }
        int result = RepairFile(&context);
        // A close that fails may have lost the last writes.
        if (FileClose(context.file) == 0 && result == RepairDone) result = RepairWriteFailed;
        context.file = InvalidFileHandle;

        switch (result) {
            case RepairDone:
                AddResultRow(handledObjectPath, DisinfectedText);
                continue;
            case RepairDeleteFile:
                DeleteHandledFile();
                return;
            case RepairOpenError:
                AddResultRow(handledObjectPath, OpenErrorText);
                ScanStatistics.openErrors += 1;
                Fail();
                return;
            default:
                Fail();
                return;
        }
    }
}
