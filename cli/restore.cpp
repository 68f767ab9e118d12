// --restore DIR [PATH...]: puts back what a quarantined scan saved.
//
// A file is only ever written where nothing is, or where what is there is
// exactly what the scan left: a file changed since (a newer program, a
// restore from elsewhere) is reported and left alone. Every saved copy is
// checked against its digest before it takes a file's place.
#include <cstdlib>
#include <cstring>
#include <map>
#include <string>

#include "cli/front_end_cli.h"
#include "cli/quarantine.h"
#include "cli/quarantine_format.h"
#include "cli/row_text.h"
#include "cli/system_error.h"
#include "cli/texts.h"
#include "engine/sha256.h"
#include "platform/text.h"

namespace {

struct Saved {
    std::string id;
    std::string path;
    uint32_t size = 0;
    std::string sha;
    std::string left;  // empty when the scan never said what it left
    bool restored = false;
};

constexpr int RestoreNameTries = 100;

void ReadManifest(FileHandle file, std::map<std::string, Saved>* entries, std::vector<std::string>* order) {
    for (const std::vector<std::string>& fields : ReadManifestLines(file)) {
        if (fields[0] == "saved" && fields.size() == 6) {
            Saved saved;
            saved.id = fields[1];
            saved.size = static_cast<uint32_t>(std::strtoul(fields[3].c_str(), nullptr, 10));
            saved.sha = fields[4];
            if (!UnescapeRowPath(fields[5], &saved.path)) continue;
            if (entries->count(saved.id) == 0) order->push_back(saved.id);
            (*entries)[saved.id] = saved;
        } else if (fields[0] == "done" && fields.size() == 6 && entries->count(fields[1]) != 0) {
            (*entries)[fields[1]].left = fields[5];
        } else if (fields[0] == "restored" && fields.size() >= 2 && entries->count(fields[1]) != 0) {
            (*entries)[fields[1]].restored = true;
        }
    }
}

// Windows spells names in any case; POSIX names differ by case.
bool Under(const std::string& path, const char* root) {
    const size_t length = std::strlen(root);
    const bool begins = PathSeparator == '\\' ? StartsWithIgnoringCase(path.c_str(), root) : path.compare(0, length, root) == 0;
    if (!begins) return false;
    return path.size() == length || path[length] == PathSeparator || (length > 0 && root[length - 1] == PathSeparator);
}

// The digest of the file at path; false when there is no file to read.
bool HashOf(const std::string& path, std::string* hex) {
    FileHandle file = FileOpen(path.c_str(), OpenMode::Read);
    if (file == InvalidFileHandle) return false;
    char text[65];
    HashFromStart(file, text);
    FileClose(file);
    *hex = text;
    return true;
}

// Decodes the entry into a new file at temporary; false, with nothing left
// behind, when the entry is damaged or cannot be written.
bool Decode(const std::string& entryPath, const Saved& saved, const std::string& temporary) {
    FileHandle entry = FileOpen(entryPath.c_str(), OpenMode::Read);
    if (entry == InvalidFileHandle) return false;
    uint8_t header[EntryHeaderSize];
    uint32_t size = 0;
    bool ok = FileRead(entry, header, EntryHeaderSize) == EntryHeaderSize && ReadEntryHeader(header, &size) &&
              size == saved.size;
    FileHandle out = ok ? FileCreate(temporary.c_str()) : InvalidFileHandle;
    ok = ok && out != InvalidFileHandle;
    Sha256 hash;
    Sha256Start(&hash);
    uint64_t done = 0;
    while (ok) {
        const uint32_t n = FileRead(entry, copyChunk, CopyChunkSize);
        ToggleInert(copyChunk, n, done);
        Sha256Add(&hash, copyChunk, n);
        ok = FileWrite(out, copyChunk, n) == n;
        done += n;
        if (n < CopyChunkSize) break;
    }
    FileClose(entry);
    char hex[65];
    Sha256Hex(&hash, hex);
    ok = ok && done == saved.size && saved.sha == hex && FileFlush(out);
    if (out != InvalidFileHandle && FileClose(out) == 0) ok = false;
    if (!ok && out != InvalidFileHandle) DeletePath(temporary.c_str());
    return ok;
}

// Puts one saved file back; false when it could not, said on standard error.
bool Restore(const std::string& folder, const Saved& saved) {
    std::string now;
    const bool exists = HashOf(saved.path, &now);
    if (exists && now == saved.sha) return true;  // back already: nothing to write
    if (exists && (saved.left.empty() || saved.left == "-" || now != saved.left)) {
        ReportScanError(saved.path.c_str(), RestoreChangedText);
        return false;
    }
    if (!exists && PathExists(saved.path.c_str())) {
        ReportScanError(saved.path.c_str(), RestoreUnreadableText, LastSystemError());
        return false;
    }
    const std::string entryPath = InFolder(folder, saved.id + ".vq");
    // A name of its own beside the file, never one that is taken.
    std::string temporary;
    for (int n = 0; n < RestoreNameTries && (temporary.empty() || PathExists(temporary.c_str())); ++n) {
        temporary = saved.path + ".vq-restore" + (n == 0 ? "" : std::to_string(n));
    }
    if (!Decode(entryPath, saved, temporary)) {
        ReportScanError(entryPath.c_str(), RestoreDamagedText, LastSystemError());
        return false;
    }
    const bool placed = exists ? ReplacePath(temporary.c_str(), saved.path.c_str())
                               : MovePath(temporary.c_str(), saved.path.c_str());
    if (!placed) {
        ReportScanError(saved.path.c_str(), RestoreFailedText, LastSystemError());
        DeletePath(temporary.c_str());
        return false;
    }
    return true;
}

}  // namespace

int RestoreFromQuarantine(const char* folder, const std::vector<const char*>& paths) {
    const std::string manifestPath = InFolder(folder, ManifestName);
    FileHandle manifest = FileOpen(manifestPath.c_str(), OpenMode::ReadWrite);
    if (manifest == InvalidFileHandle) {
        ReportScanError(manifestPath.c_str(), QuarantineUnusableText, LastSystemError());
        return 2;
    }
    std::map<std::string, Saved> entries;
    std::vector<std::string> order;
    ReadManifest(manifest, &entries, &order);
    bool failed = false;
    for (const std::string& id : order) {
        const Saved& saved = entries[id];
        if (saved.restored) continue;
        bool chosen = paths.empty();
        for (const char* path : paths) chosen = chosen || Under(saved.path, path);
        if (!chosen) continue;
        if (!Restore(folder, saved)) {
            failed = true;
            continue;
        }
        AddResultRow(saved.path.c_str(), RestoredText);
        // Told last: a restore cut short before this line is simply done
        // again, and finds the file back already.
        if (!AppendManifestLine(manifest, "restored\t" + id + "\t" + CurrentTimeText() + "\n")) {
            ReportScanError(manifestPath.c_str(), QuarantineRecordFailedText, LastSystemError());
            failed = true;
        }
    }
    FileClose(manifest);
    return failed || outputFailed ? 2 : 0;
}
