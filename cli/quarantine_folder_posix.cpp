// POSIX: the quarantine folder through its descriptor (see
// quarantine_folder.h).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>  // renameat2

#include "adapters/file_io_posix.h"
#include "cli/messages.h"
#include "cli/quarantine_folder.h"
#include "cli/quarantine_format.h"
#include "cli/texts.h"

namespace {

int folder = -1;
int manifest = -1;
std::string manifestPath;

// As ssh takes a key file: only when no one but the user could have
// written it. Otherwise says why.
bool Trusted(const char* path, const struct stat& info) {
    if (info.st_uid != geteuid()) {
        ReportScanError(path, QuarantineNotOwnedText);
        return false;
    }
    if ((info.st_mode & (S_IWGRP | S_IWOTH)) != 0) {
        ReportScanError(path, QuarantineWritableText);
        return false;
    }
    return true;
}

// flock, waiting for the other holder; file systems without such locks are
// used without one, as the scan's writes are.
bool Lock(int fd, int operation) {
    while (flock(fd, operation) != 0) {
        if (errno == EINTR) continue;
        return errno == ENOLCK || errno == EINVAL || errno == EOPNOTSUPP;
    }
    return true;
}

void Unlock(int fd) {
    const int error = errno;
    flock(fd, LOCK_UN);
    errno = error;
}

bool WriteAll(int fd, const std::string& text) {
    for (size_t done = 0; done < text.size();) {
        const ssize_t n = write(fd, text.data() + done, text.size() - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) {
            if (n == 0) errno = EIO;
            return false;
        }
        done += static_cast<size_t>(n);
    }
    return true;
}

// Appends a line at the end while the lock is held; cut short, the file is
// given back its former length, so that no line is ever half there for the
// next writer to continue. Whoever finds the manifest empty writes its first
// line with its own, so that two scanners starting at once cannot both
// write it, nor a line come before it.
bool AppendLocked(const std::string& line) {
    struct stat info {};
    if (fstat(manifest, &info) != 0) return false;
    const std::string text = info.st_size == 0 ? ManifestHeaderLine() + line : line;
    if (WriteAll(manifest, text) && fsync(manifest) == 0) return true;
    const int error = errno;
    if (ftruncate(manifest, info.st_size) == 0) fsync(manifest);
    errno = error;
    return false;
}

}  // namespace

bool UseQuarantineFolder(const char* path, bool create) {
    manifestPath = InFolder(path, ManifestName);
    if (create && mkdir(path, 0700) != 0 && errno != EEXIST) {
        ReportScanError(path, QuarantineUnusableText, errno);
        return false;
    }
    struct stat named {};
    if (lstat(path, &named) != 0) {
        ReportScanError(path, QuarantineUnusableText, errno);
        return false;
    }
    if (S_ISLNK(named.st_mode)) {
        ReportScanError(path, QuarantineLinkText);
        return false;
    }
    if (!S_ISDIR(named.st_mode)) {
        ReportScanError(path, QuarantineNotFolderText);
        return false;
    }
    folder = open(path, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat opened {};
    int error = folder < 0 ? errno : 0;
    if (folder >= 0 &&
        (fstat(folder, &opened) != 0 || opened.st_dev != named.st_dev || opened.st_ino != named.st_ino)) {
        error = ESTALE;  // swapped between the look and the open
    }
    if (error != 0) {
        ReportScanError(path, QuarantineUnusableText, error);
        LeaveQuarantineFolder();
        return false;
    }
    if (!Trusted(path, opened)) {
        LeaveQuarantineFolder();
        return false;
    }
    return true;
}

const std::string& ManifestShownPath() { return manifestPath; }

bool OpenManifest(bool create) {
    const int flags = O_RDWR | O_APPEND | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC | (create ? O_CREAT : 0);
    manifest = openat(folder, ManifestName, flags, 0600);
    struct stat info {};
    int error = manifest < 0 ? errno : 0;
    if (manifest >= 0 && fstat(manifest, &info) != 0) error = errno;
    if (error != 0) {
        ReportScanError(manifestPath.c_str(), QuarantineUnusableText, error);
        return false;
    }
    if (!S_ISREG(info.st_mode)) {
        ReportScanError(manifestPath.c_str(), ManifestNotFileText);
        return false;
    }
    return Trusted(manifestPath.c_str(), info);
}

bool ReadManifestText(std::string* text) {
    text->clear();
    if (!Lock(manifest, LOCK_SH)) return false;
    bool ok = true;
    for (off_t at = 0;;) {
        const ssize_t n = pread(manifest, copyChunk, CopyChunkSize, at);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        text->append(reinterpret_cast<const char*>(copyChunk), static_cast<size_t>(n));
        at += n;
    }
    Unlock(manifest);
    return ok;
}

bool AppendManifest(const std::string& line) {
    if (!Lock(manifest, LOCK_EX)) return false;
    const bool ok = AppendLocked(line);
    Unlock(manifest);
    return ok;
}

void LeaveQuarantineFolder() {
    if (manifest >= 0) close(manifest);
    if (folder >= 0) close(folder);
    manifest = folder = -1;
}

EntryClaim ClaimEntry(uint32_t number, FileHandle* part) {
    *part = InvalidFileHandle;
    const std::string entry = EntryName(number, "vq");
    const std::string name = EntryName(number, "part");
    struct stat info {};
    if (fstatat(folder, entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) return EntryClaim::Taken;
    if (errno != ENOENT) return EntryClaim::Failed;
    const int fd = openat(folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return errno == EEXIST ? EntryClaim::Taken : EntryClaim::Failed;
    // Another writer may have published this number between the look and
    // the claim; only the holder of the part can publish it from now on.
    if (fstatat(folder, entry.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0) {
        close(fd);
        unlinkat(folder, name.c_str(), 0);
        return EntryClaim::Taken;
    }
    *part = FileAdopt(fd);
    if (*part == InvalidFileHandle) {
        const int error = errno;
        unlinkat(folder, name.c_str(), 0);
        errno = error;
        return EntryClaim::Failed;
    }
    return EntryClaim::Claimed;
}

bool PublishEntry(uint32_t number) {
    const std::string from = EntryName(number, "part");
    const std::string to = EntryName(number, "vq");
    bool moved = renameat2(folder, from.c_str(), folder, to.c_str(), RENAME_NOREPLACE) == 0;
    if (!moved && (errno == EINVAL || errno == ENOSYS)) {
        // File systems without the no-replace rename: a hard link also
        // fails when the name exists.
        moved = linkat(folder, from.c_str(), folder, to.c_str(), 0) == 0;
        if (moved) unlinkat(folder, from.c_str(), 0);
    }
    // The entry's name reaches the disk before its line does.
    return moved && fsync(folder) == 0;
}

void DropEntry(uint32_t number, bool published) {
    const int error = errno;
    unlinkat(folder, EntryName(number, published ? "vq" : "part").c_str(), 0);
    errno = error;
}

FileHandle OpenEntry(const std::string& id) {
    const std::string name = id + ".vq";
    return FileAdopt(openat(folder, name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC));
}
