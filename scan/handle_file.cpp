#include <cctype>
#include <cstdio>
#include <cstring>

#include "engine/check_context.h"
#include "engine/detectors.h"
#include "scan/front_end.h"
#include "scan/scan_run.h"
#include "scan/scan_state.h"
#include "scan/status_texts.h"

namespace {

const char* const ExecutableExtensions[] = {"exe", "com", "dll", "ocx", "scr", "cpl", "pif", "lnk", "bat", "cmd"};

bool EqualsIgnoringCase(const char* a, const char* b) {
    for (; *a != '\0' && *b != '\0'; ++a, ++b) {
        if (std::tolower(static_cast<unsigned char>(*a)) != std::tolower(static_cast<unsigned char>(*b))) return false;
    }
    return *a == *b;
}

// Only files with an executable extension are worth a row when they cannot
// be opened; the text after the last dot of the whole path must match.
void ReportUnopenable() {
    const char* dot = std::strrchr(CurrentObjectPath, '.');
    if (dot == nullptr) return;
    for (const char* extension : ExecutableExtensions) {
        if (EqualsIgnoringCase(dot + 1, extension)) {
            AddResultRow(CurrentObjectPath, UnableToOpenText);
            return;
        }
    }
}

void AddNamedRow(const char* prefix, ThreatName threat) {
    char text[ObjectPathSize];
    std::snprintf(text, sizeof text, "%s%s", prefix, threat != nullptr ? threat->text : "");
    AddResultRow(CurrentObjectPath, text);
}

int Examine(FileCheckContext* context) {
    context->file = FileOpen(context->path, 0);
    if (context->file == InvalidFileHandle) return -1;
    const int verdict = DetectThreat(context);
    lastVerdict = verdict;
    FileClose(context->file);
    context->file = InvalidFileHandle;
    return verdict;
}

}  // namespace

void HandleFile() {
    ScanStatistics.files += 1;
    FileCheckContext context;
    context.path = CurrentObjectPath;

    const int verdict = Examine(&context);
    switch (verdict) {
        case -1:
            ReportUnopenable();
            break;
        case VerdictInfected:
            ScanStatistics.infected += 1;
            AddNamedRow(InfectedPrefix, context.threatName);
            break;
        case VerdictSuspicious:
            AddNamedRow(SuspiciousPrefix, context.threatName);
            ScanStatistics.suspicious += 1;
            break;
        case VerdictOpenError:
            AddResultRow(CurrentObjectPath, OpenErrorText);
            ScanStatistics.openErrors += 1;
            break;
        case VerdictWarning:
            AddNamedRow(WarningPrefix, context.threatName);
            ScanStatistics.warnings += 1;
            break;
        default:
            break;
    }
}
