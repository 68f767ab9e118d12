#include "cli/quarantine.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#include "cli/front_end_cli.h"
#include "cli/quarantine_format.h"
#include "cli/row_text.h"
#include "cli/system_error.h"
#include "cli/texts.h"
#include "engine/sha256.h"

namespace {

// Entry numbers tried past the last one in use, should another program have
// taken names meanwhile.
constexpr uint32_t NameTries = 4096;

std::string folderPath;
FileHandle manifest = InvalidFileHandle;
uint32_t nextNumber = 1;
// The entry of the file in hand, saved and not yet told done.
uint32_t pendingNumber = 0;
uint8_t chunk[CopyChunkSize];

std::string EntryName(uint32_t number, const char* extension) { return EntryId(number) + "." + extension; }

bool WriteAll(FileHandle file, const void* bytes, uint32_t count) { return FileWrite(file, bytes, count) == count; }

// One line at the manifest's end, on the disk before anything goes on.
bool AppendLine(FileHandle file, const std::string& line) {
    FileSeek(file, 0, SeekOrigin::End);
    return WriteAll(file, line.data(), static_cast<uint32_t>(line.size())) && FileFlush(file);
}

bool Hash(FileHandle file, char hex[65], uint32_t* size) {
    Sha256 hash;
    Sha256Start(&hash);
    FileSeek(file, 0, SeekOrigin::Begin);
    uint32_t total = 0;
    for (;;) {
        const uint32_t n = FileRead(file, chunk, CopyChunkSize);
        Sha256Add(&hash, chunk, n);
        total += n;
        if (n < CopyChunkSize) break;
    }
    Sha256Hex(&hash, hex);
    if (size != nullptr) *size = total;
    return true;
}

// The number after the highest one the manifest names.
uint32_t NumberAfterManifest(FileHandle file) {
    uint32_t highest = 0;
    std::string text;
    FileSeek(file, 0, SeekOrigin::Begin);
    for (uint32_t n; (n = FileRead(file, chunk, CopyChunkSize)) > 0;) text.append(reinterpret_cast<char*>(chunk), n);
    size_t at = 0;
    while (at < text.size()) {
        const size_t end = text.find('\n', at);
        const std::string line = text.substr(at, end == std::string::npos ? std::string::npos : end - at);
        at = end == std::string::npos ? text.size() : end + 1;
        const size_t tab = line.find('\t');
        if (tab == std::string::npos) continue;
        const uint32_t number = static_cast<uint32_t>(std::strtoul(line.c_str() + tab + 1, nullptr, 16));
        if (number > highest) highest = number;
    }
    return highest + 1;
}

// Copies the open file, made inert, into a new entry file; the digest and
// size of what was read come back.
bool WriteEntry(FileHandle examined, FileHandle entry, char hex[65], uint32_t* size) {
    uint8_t header[EntryHeaderSize] = {};
    std::memcpy(header, EntryMagic, sizeof EntryMagic);
    if (!FileGetSize(examined, size)) return false;
    for (uint32_t i = 0; i < 8; ++i) header[EntrySizeOffset + i] = static_cast<uint8_t>(static_cast<uint64_t>(*size) >> (8 * i));
    if (!WriteAll(entry, header, EntryHeaderSize)) return false;
    Sha256 hash;
    Sha256Start(&hash);
    FileSeek(examined, 0, SeekOrigin::Begin);
    uint64_t done = 0;
    for (;;) {
        const uint32_t n = FileRead(examined, chunk, CopyChunkSize);
        Sha256Add(&hash, chunk, n);
        ToggleInert(chunk, n, done);
        if (!WriteAll(entry, chunk, n)) return false;
        done += n;
        if (n < CopyChunkSize) break;
    }
    Sha256Hex(&hash, hex);
    // A file that grew or shrank while it was read is not saved as it was.
    return done == *size && FileFlush(entry);
}

const char* ActionOf(ChangeOutcome outcome) {
    switch (outcome) {
        case ChangeOutcome::Disinfected:
        case ChangeOutcome::DisinfectedAtRestart:
            return "repair";
        case ChangeOutcome::Deleted:
        case ChangeOutcome::DeletedAtRestart:
            return "delete";
        case ChangeOutcome::Failed:
            break;
    }
    return "change";
}

const char* ResultOf(ChangeOutcome outcome) {
    switch (outcome) {
        case ChangeOutcome::Disinfected:
        case ChangeOutcome::Deleted:
            return "done";
        case ChangeOutcome::DisinfectedAtRestart:
        case ChangeOutcome::DeletedAtRestart:
            return "at-restart";
        case ChangeOutcome::Failed:
            break;
    }
    return "failed";
}

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
    std::string partPath;
    uint32_t number = nextNumber;
    for (uint32_t tries = 0; entry == InvalidFileHandle && tries < NameTries; ++tries, ++number) {
        partPath = InFolder(folderPath, EntryName(number, "part"));
        const std::string finalPath = InFolder(folderPath, EntryName(number, "vq"));
        if (PathExists(finalPath.c_str())) continue;
        entry = FileCreate(partPath.c_str());
    }
    if (entry == InvalidFileHandle) {
        ReportScanError(file.path, QuarantineSaveFailedText, LastSystemError());
        return false;
    }
    number -= 1;
    char hex[65];
    uint32_t size = 0;
    bool ok = WriteEntry(examined, entry, hex, &size);
    int error = ok ? 0 : LastSystemError();
    if (FileClose(entry) == 0 && ok) {
        ok = false;
        error = LastSystemError();
    }
    const std::string finalPath = InFolder(folderPath, EntryName(number, "vq"));
    if (ok && !MovePath(partPath.c_str(), finalPath.c_str())) {
        ok = false;
        error = LastSystemError();
    }
    if (ok) {
        std::string line = "saved\t" + EntryId(number) + "\t" + CurrentTimeText() + "\t" + std::to_string(size) +
                           "\t" + hex + "\t";
        AppendRowPath(&line, file.path);
        line.push_back('\n');
        if (!AppendLine(manifest, line)) {
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
        FileHandle now = curedCopy != nullptr ? OpenHandledFile(&copy, OpenMode::Read) : OpenHandledFile(file, OpenMode::Read);
        char hex[65];
        left = now != InvalidFileHandle && Hash(now, hex, nullptr) ? hex : "?";
        FileClose(now);
    }
    const std::string line = "done\t" + EntryId(pendingNumber) + "\t" + CurrentTimeText() + "\t" +
                             ActionOf(outcome) + "\t" + ResultOf(outcome) + "\t" + left + "\n";
    pendingNumber = 0;
    if (!AppendLine(manifest, line)) ReportScanError(file->path, QuarantineRecordFailedText, LastSystemError());
}
