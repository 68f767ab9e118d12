#include "cli/quarantine.h"

#include <cstdlib>
#include <string>
#include <vector>

#include "cli/front_end_cli.h"
#include "cli/quarantine_format.h"
#include "cli/row_text.h"
#include "cli/system_error.h"
#include "cli/texts.h"
#include "engine/sha256.h"

namespace {

// Entry numbers tried past the last one in use, should another program have
// taken names meanwhile. Numbers above the cap, which no scan reaches, are
// not taken from a manifest, so the next number can never wrap to 0, which
// stands for none.
constexpr uint32_t NameTries = 4096;
constexpr uint32_t HighestNumber = 0x7FFFFFFF;

std::string folderPath;
FileHandle manifest = InvalidFileHandle;
uint32_t nextNumber = 1;
// The entry of the file in hand, saved and not yet told done.
uint32_t pendingNumber = 0;

std::string EntryName(uint32_t number, const char* extension) { return EntryId(number) + "." + extension; }

uint32_t NumberAfterManifest(FileHandle file) {
    uint32_t highest = 0;
    for (const std::vector<std::string>& fields : ReadManifestLines(file)) {
        if (fields.size() < 2) continue;
        const unsigned long number = std::strtoul(fields[1].c_str(), nullptr, 16);
        if (number <= HighestNumber && number > highest) highest = static_cast<uint32_t>(number);
    }
    return highest + 1;
}

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

bool OpenQuarantine(const char* folder) {
    folderPath = folder;
    if (!MakePrivateFolder(folder)) {
        ReportScanError(folder, QuarantineUnusableText, LastSystemError());
        return false;
    }
    const std::string manifestPath = InFolder(folderPath, ManifestName);
    manifest = FileOpen(manifestPath.c_str(), OpenMode::ReadWrite);
    if (manifest == InvalidFileHandle) manifest = FileCreate(manifestPath.c_str());
    if (manifest == InvalidFileHandle) {
        ReportScanError(manifestPath.c_str(), QuarantineUnusableText, LastSystemError());
        return false;
    }
    nextNumber = NumberAfterManifest(manifest);
    return true;
}

bool QuarantineActive() { return manifest != InvalidFileHandle; }

void CloseQuarantine() {
    if (manifest != InvalidFileHandle) FileClose(manifest);
    manifest = InvalidFileHandle;
}

bool SaveToQuarantine(const HandledEntry& file, FileHandle examined) {
    pendingNumber = 0;
    FileHandle entry = InvalidFileHandle;
    uint32_t number = nextNumber;
    for (uint32_t tries = 0; tries < NameTries && number <= HighestNumber; ++tries, ++number) {
        if (PathExists(InFolder(folderPath, EntryName(number, "vq")).c_str())) continue;
        entry = FileCreate(InFolder(folderPath, EntryName(number, "part")).c_str());
        if (entry != InvalidFileHandle) break;
    }
    if (entry == InvalidFileHandle) {
        ReportScanError(file.path, QuarantineSaveFailedText, LastSystemError());
        return false;
    }
    const std::string partPath = InFolder(folderPath, EntryName(number, "part"));
    const std::string finalPath = InFolder(folderPath, EntryName(number, "vq"));
    char hex[65];
    uint32_t size = 0;
    bool ok = WriteEntry(examined, entry, hex, &size);
    int error = ok ? 0 : LastSystemError();
    if (FileClose(entry) == 0 && ok) {
        ok = false;
        error = LastSystemError();
    }
    if (ok && !MovePath(partPath.c_str(), finalPath.c_str())) {
        ok = false;
        error = LastSystemError();
    }
    if (ok) {
        std::string line = "saved\t" + EntryId(number) + "\t" + CurrentTimeText() + "\t" + std::to_string(size) +
                           "\t" + hex + "\t";
        AppendRowPath(&line, file.path);
        line.push_back('\n');
        if (!AppendManifestLine(manifest, line)) {
            error = LastSystemError();
            ok = false;
            DeletePath(finalPath.c_str());
        }
    } else {
        DeletePath(partPath.c_str());
    }
    if (!ok) {
        ReportScanError(file.path, QuarantineSaveFailedText, error);
        return false;
    }
    nextNumber = number + 1;
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
    if (!AppendManifestLine(manifest, line)) ReportScanError(file->path, QuarantineRecordFailedText, LastSystemError());
}
