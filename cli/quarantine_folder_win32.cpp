// Windows: the quarantine folder by its path (see quarantine_folder.h). The
// manifest is opened for each read and each append alone, with reads alone
// shared, so that while one scanner or restore appends no other can read or
// write it: the open is the lock, and the others wait for it.
#include <windows.h>

#include "cli/messages.h"
#include "cli/quarantine_folder.h"
#include "cli/quarantine_format.h"
#include "cli/system_error.h"
#include "cli/texts.h"

namespace {

std::string folderPath;
std::string manifestPath;

// Waits, up to about 30 s, while another program holds the manifest.
FileHandle OpenHeld(OpenMode mode) {
    for (int tries = 0; tries < 3000; ++tries) {
        FileHandle file = FileOpen(manifestPath.c_str(), mode);
        if (file != InvalidFileHandle || GetLastError() != ERROR_SHARING_VIOLATION) return file;
        Sleep(10);
    }
    return InvalidFileHandle;
}

// The first line of a new manifest goes with the first line appended.
bool AppendHeld(FileHandle manifest, const std::string& line) {
    uint32_t size = 0;
    if (!FileGetSize(manifest, &size)) return false;
    const std::string text = size == 0 ? ManifestHeaderLine() + line : line;
    FileSeek(manifest, 0, SeekOrigin::End);
    return FileWrite(manifest, text.data(), static_cast<uint32_t>(text.size())) == text.size() && FileFlush(manifest);
}

}  // namespace

bool UseQuarantineFolder(const char* path, bool create) {
    folderPath = path;
    manifestPath = InFolder(folderPath, ManifestName);
    if (create && !MakePrivateFolder(path)) {
        ReportScanError(path, QuarantineUnusableText, LastSystemError());
        return false;
    }
    return true;
}

const std::string& ManifestShownPath() { return manifestPath; }

bool OpenManifest(bool create) {
    FileHandle manifest = OpenHeld(OpenMode::ReadWrite);
    // Another scanner may make it between the two.
    if (manifest == InvalidFileHandle && create) manifest = FileCreate(manifestPath.c_str());
    if (manifest == InvalidFileHandle && create) manifest = OpenHeld(OpenMode::ReadWrite);
    if (manifest == InvalidFileHandle) {
        ReportScanError(manifestPath.c_str(), QuarantineUnusableText, LastSystemError());
        return false;
    }
    FileClose(manifest);
    return true;
}

bool ReadManifestText(std::string* text) {
    text->clear();
    FileHandle manifest = OpenHeld(OpenMode::Read);
    if (manifest == InvalidFileHandle) return false;
    for (uint32_t n; (n = FileRead(manifest, copyChunk, CopyChunkSize)) > 0;) {
        text->append(reinterpret_cast<const char*>(copyChunk), n);
    }
    FileClose(manifest);
    return true;
}

bool AppendManifest(const std::string& line) {
    FileHandle manifest = OpenHeld(OpenMode::ReadWrite);
    if (manifest == InvalidFileHandle) return false;
    const bool ok = AppendHeld(manifest, line);
    const DWORD error = GetLastError();
    FileClose(manifest);
    SetLastError(error);
    return ok;
}

void LeaveQuarantineFolder() {}

EntryClaim ClaimEntry(uint32_t number, FileHandle* part) {
    *part = InvalidFileHandle;
    if (PathExists(InFolder(folderPath, EntryName(number, "vq")).c_str())) return EntryClaim::Taken;
    *part = FileCreate(InFolder(folderPath, EntryName(number, "part")).c_str());
    if (*part != InvalidFileHandle) return EntryClaim::Claimed;
    const DWORD error = GetLastError();
    return error == ERROR_FILE_EXISTS || error == ERROR_ALREADY_EXISTS ? EntryClaim::Taken : EntryClaim::Failed;
}

bool PublishEntry(uint32_t number) {
    return MovePath(InFolder(folderPath, EntryName(number, "part")).c_str(),
                    InFolder(folderPath, EntryName(number, "vq")).c_str());
}

void DropEntry(uint32_t number, bool published) {
    const DWORD error = GetLastError();
    DeletePath(InFolder(folderPath, EntryName(number, published ? "vq" : "part")).c_str());
    SetLastError(error);
}

FileHandle OpenEntry(const std::string& id) {
    return FileOpen(InFolder(folderPath, id + ".vq").c_str(), OpenMode::Read);
}
