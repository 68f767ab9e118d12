#include "cli/quarantine.h"

#include <string>

#include "cli/messages.h"
#include "cli/quarantine_folder.h"
#include "cli/quarantine_format.h"
#include "cli/restore_target.h"
#include "cli/system_error.h"
#include "cli/texts.h"
#include "engine/sha256.h"

namespace {

bool active = false;
uint32_t nextNumber = 1;
// The entry of the file in hand, saved and not yet told done.
uint32_t pendingNumber = 0;

// Copies the open file, made inert, into a new entry file; the digest and
// size of what was read come back.
bool WriteEntry(FileHandle examined, FileHandle entry, char hex[65], uint32_t* size) {
    uint8_t header[EntryHeaderSize];
    if (!FileGetSize(examined, size)) return false;
    WriteEntryHeader(header, *size);
    if (FileWrite(entry, header, EntryHeaderSize) != EntryHeaderSize) return false;
    Sha256 hash;
    Sha256Start(&hash);
    FileSeek(examined, 0, SeekOrigin::Begin);
    uint64_t done = 0;
    for (;;) {
        const uint32_t n = FileRead(examined, copyChunk, CopyChunkSize);
        Sha256Add(&hash, copyChunk, n);
        ToggleInert(copyChunk, n, done);
        if (FileWrite(entry, copyChunk, n) != n) return false;
        done += n;
        if (n < CopyChunkSize) break;
    }
    Sha256Hex(&hash, hex);
    // A file that grew or shrank while it was read is not saved as it was.
    return done == *size && FileFlush(entry);
}

// The manifest's action and result for each outcome, in ChangeOutcome's
// order.
struct OutcomeText {
    const char* action;
    const char* result;
};
const OutcomeText OutcomeTexts[] = {
    {"repair", "done"},        // Disinfected
    {"delete", "done"},        // Deleted
    {"repair", "at-restart"},  // DisinfectedAtRestart
    {"delete", "at-restart"},  // DeletedAtRestart
    {"change", "failed"},      // Failed
};

}  // namespace

bool LoadQuarantine(const char* folder, bool create, std::string* text, ManifestContents* contents) {
    if (!UseQuarantineFolder(folder, create)) return false;
    bool usable = OpenManifest(create);
    if (usable && !ReadManifestText(text)) {
        ReportScanError(ManifestShownPath().c_str(), QuarantineUnusableText, LastSystemError());
        usable = false;
    }
    if (usable && !ParseManifest(text->data(), text->size(), contents)) {
        ReportScanError(ManifestShownPath().c_str(), ManifestNewerText);
        usable = false;
    }
    if (!usable) LeaveQuarantineFolder();
    return usable;
}

bool OpenQuarantine(const char* folder) {
    std::string text;
    ManifestContents contents;
    if (!LoadQuarantine(folder, true, &text, &contents)) return false;
    // Numbers in use by entries without a line (a save cut short) or taken
    // by another scanner meanwhile are passed over when they are claimed.
    nextNumber = contents.highestNumber + 1;
    active = true;
    return true;
}

bool QuarantineActive() { return active; }

void CloseQuarantine() {
    if (active) LeaveQuarantineFolder();
    active = false;
}

bool SaveToQuarantine(const HandledEntry& file, FileHandle examined) {
    pendingNumber = 0;
    std::string recorded;
    SavedOwner owner;
    int error = 0;
    if (!RecordedPathOf(file, examined, &recorded, &owner, &error)) {
        ReportScanError(file.path, QuarantineSaveFailedText, error);
        return false;
    }
    FileHandle entry = InvalidFileHandle;
    EntryClaim claim = EntryClaim::Taken;
    uint32_t number = nextNumber;
    // A number another scanner holds is passed over, however many there are.
    for (; number <= HighestEntryNumber; ++number) {
        claim = ClaimEntry(number, &entry);
        if (claim != EntryClaim::Taken) break;
    }
    if (claim != EntryClaim::Claimed) {
        ReportScanError(file.path, QuarantineSaveFailedText, claim == EntryClaim::Failed ? LastSystemError() : 0);
        return false;
    }
    nextNumber = number + 1;
    char hex[65];
    uint32_t size = 0;
    bool ok = WriteEntry(examined, entry, hex, &size);
    error = ok ? 0 : LastSystemError();
    if (FileClose(entry) == 0 && ok) {
        ok = false;
        error = LastSystemError();
    }
    bool published = false;
    if (ok) {
        published = PublishEntry(number);
        ok = published;
        if (!ok) error = LastSystemError();
    }
    if (ok && !AppendManifest(SavedLine(number, size, hex, owner, recorded))) {
        error = LastSystemError();
        ok = false;
    }
    if (!ok) {
        DropEntry(number, published);
        ReportScanError(file.path, QuarantineSaveFailedText, error);
        return false;
    }
    pendingNumber = number;
    return true;
}

void RecordChange(HandledEntry* file, ChangeOutcome outcome, const char* curedCopy) {
    if (pendingNumber == 0) return;
    std::string left = "-";
    if (outcome == ChangeOutcome::Disinfected || outcome == ChangeOutcome::Failed || curedCopy != nullptr) {
        HandledEntry copy = EntryForPath(curedCopy);
        FileHandle now = OpenHandledFile(curedCopy != nullptr ? &copy : file, OpenMode::Read);
        char hex[65] = "?";
        if (now != InvalidFileHandle) HashFromStart(now, hex);
        left = hex;
        FileClose(now);
    }
    const OutcomeText& text = OutcomeTexts[static_cast<int>(outcome)];
    const std::string line = "done\t" + EntryId(pendingNumber) + "\t" + CurrentTimeText() + "\t" + text.action +
                             "\t" + text.result + "\t" + left + "\n";
    pendingNumber = 0;
    if (!AppendManifest(line)) ReportScanError(file->path, QuarantineRecordFailedText, LastSystemError());
}
