// Windows: the way to a saved file by its path, no folder on it a reparse
// point (see restore_target.h). On the NT family a path is WTF-8 and reaches
// the wide functions through ToSystemPath; the 95/98/Me family has no
// reparse points and takes the code page's text as it is.
#include <windows.h>

#include <memory>

#include "adapters/system_path_win32.h"
#include "cli/quarantine_format.h"
#include "cli/restore_target.h"
#include "platform/family.h"
#include "platform/wtf8.h"

namespace {

constexpr char TemporarySuffix[] = ".vq-restore";

DWORD AttributesOf(const std::string& path) {
    if (!IsNtFamily()) return GetFileAttributesA(path.c_str());
    const auto wide = std::make_unique<SystemPath>();
    return ToSystemPath(path.c_str(), wide.get()) ? GetFileAttributesW(wide->text) : INVALID_FILE_ATTRIBUTES;
}

bool IsMissing(DWORD error) { return error == ERROR_FILE_NOT_FOUND || error == ERROR_PATH_NOT_FOUND; }

TargetStatus Fail(DWORD code, int* error) {
    *error = static_cast<int>(code);
    return IsDiskFullError(*error) ? TargetStatus::DiskFull : TargetStatus::Failed;
}

// The full path of a path given relative to the current folder.
bool FullPath(const char* path, std::string* out) {
    if (!IsNtFamily()) {
        char full[MAX_PATH];
        const DWORD length = GetFullPathNameA(path, MAX_PATH, full, nullptr);
        if (length == 0 || length >= MAX_PATH) return false;
        *out = full;
        return true;
    }
    const auto wide = std::make_unique<SystemPath>();
    const auto full = std::make_unique<SystemPath>();
    if (!ToSystemPath(path, wide.get())) return false;
    const DWORD units = GetFullPathNameW(wide->text, static_cast<DWORD>(SystemPathUnits), full->text, nullptr);
    if (units == 0 || units >= SystemPathUnits) return false;
    out->assign(Wtf8Size(full->text, units), '\0');
    EncodeWtf8(full->text, units, &(*out)[0]);
    return true;
}

}  // namespace

bool IsDiskFullError(int error) { return error == ERROR_DISK_FULL || error == ERROR_HANDLE_DISK_FULL; }

void IgnoreFileSizeLimitSignal() {}

TargetStatus ReachTarget(const std::string& path, RestoreTarget* target, int* error) {
    *error = 0;
    target->path = path;
    target->name = path;
    const size_t root = WindowsRootLength(path);
    if (root == 0) return Fail(ERROR_INVALID_NAME, error);
    for (size_t at = root; at < path.size(); ++at) {
        if (!IsWindowsSeparator(path[at])) continue;
        const DWORD attributes = AttributesOf(path.substr(0, at));
        if (attributes == INVALID_FILE_ATTRIBUTES) {
            const DWORD code = GetLastError();
            *error = static_cast<int>(code);
            return IsMissing(code) ? TargetStatus::Gone : TargetStatus::Failed;
        }
        if ((attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) return TargetStatus::Link;
        if ((attributes & FILE_ATTRIBUTE_DIRECTORY) == 0) return TargetStatus::Gone;
    }
    return TargetStatus::Done;
}

TargetStatus HashTarget(RestoreTarget* target, char hex[65], int* error) {
    *error = 0;
    target->exists = false;
    const DWORD attributes = AttributesOf(target->path);
    if (attributes == INVALID_FILE_ATTRIBUTES) {
        const DWORD code = GetLastError();
        return IsMissing(code) ? TargetStatus::Done : Fail(code, error);
    }
    if ((attributes & (FILE_ATTRIBUTE_DIRECTORY | FILE_ATTRIBUTE_REPARSE_POINT)) != 0) return TargetStatus::NotFile;
    FileHandle file = FileOpen(target->path.c_str(), OpenMode::Read);
    if (file == InvalidFileHandle) return Fail(GetLastError(), error);
    HashFromStart(file, hex);
    FileClose(file);
    target->exists = true;
    return TargetStatus::Done;
}

TargetStatus CreateTemporary(RestoreTarget* target, int* error) {
    *error = 0;
    const std::string name = target->path + TemporarySuffix;
    // What an earlier restore left when it was cut short.
    DeletePath(name.c_str());
    target->written = FileCreate(name.c_str());
    if (target->written == InvalidFileHandle) return Fail(GetLastError(), error);
    target->temporary = name;
    return TargetStatus::Done;
}

TargetStatus FinishTemporary(RestoreTarget* target, const SavedOwner&, bool* ownerKept, int* error) {
    *error = 0;
    *ownerKept = true;
    const bool flushed = FileFlush(target->written);
    const DWORD code = GetLastError();
    const int closed = FileClose(target->written);
    target->written = InvalidFileHandle;
    if (!flushed) return Fail(code, error);
    if (closed == 0) return Fail(GetLastError(), error);
    return TargetStatus::Done;
}

TargetStatus PlaceTarget(RestoreTarget* target, int* error) {
    *error = 0;
    const char* from = target->temporary.c_str();
    const char* to = target->path.c_str();
    if (target->exists ? ReplacePath(from, to) : MovePath(from, to)) {
        target->placed = true;
        return TargetStatus::Done;
    }
    const DWORD code = GetLastError();
    if (!target->exists && (code == ERROR_ALREADY_EXISTS || code == ERROR_FILE_EXISTS)) return TargetStatus::Changed;
    return Fail(code, error);
}

void CloseTarget(RestoreTarget* target) {
    if (target->written != InvalidFileHandle) FileClose(target->written);
    target->written = InvalidFileHandle;
    if (!target->placed && !target->temporary.empty()) DeletePath(target->temporary.c_str());
    target->temporary.clear();
}

bool RecordedPathOf(const HandledEntry& file, FileHandle, std::string* path, SavedOwner* owner, int* error) {
    *error = 0;
    *owner = SavedOwner{};
    if (IsRecordedPathForm(file.path)) {
        *path = file.path;
        return true;
    }
    if (!FullPath(file.path, path) || !IsRecordedPathForm(*path)) {
        *error = static_cast<int>(GetLastError());
        if (*error == 0) *error = ERROR_INVALID_NAME;
        return false;
    }
    return true;
}

std::string AbsoluteForm(const char* path, bool) {
    std::string full;
    return FullPath(path, &full) ? full : std::string(path);
}
