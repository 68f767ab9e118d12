#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>  // renameat2

#include "adapters/seams.h"
#include "adapters/file_io_posix.h"
#include "scan/fs.h"

const char PathSeparator = '/';

uint32_t LogicalDriveMask() { return 0; }

int HoldFolder(int folder) {
    if (folder == ByPath) return ByPath;
    const int held = fcntl(folder, F_DUPFD_CLOEXEC, 0);
    return held < 0 ? ByPath : held;
}

void ReleaseFolder(int held) {
    if (held != ByPath) close(held);
}

bool IsFixedDrive(const char*) { return false; }

namespace {

bool SameFile(const HandledEntry& file, const struct stat& info) {
    return static_cast<uint64_t>(info.st_dev) == file.device && static_cast<uint64_t>(info.st_ino) == file.inode;
}

}  // namespace

FileHandle OpenHandledFile(HandledEntry* file, OpenMode mode) {
    if (file->folder == ByPath) return FileOpen(file->path, mode);
    FileHandle open = FileOpenAt(file->folder, file->name, mode, file->device, file->inode);
    // A read/write open before any finding (which PinExaminedFile would
    // have followed) fixes the identity itself.
    if (open != InvalidFileHandle && file->inode == 0 && mode == OpenMode::ReadWrite) {
        FileIdentity(open, &file->device, &file->inode);
    }
    return open;
}

// A regular file listed without its identity takes that of the file the
// first open found, once that open has led to a finding: every later step
// (the mode change, the read/write open, the deletion) must then meet that
// same file.
bool PinExaminedFile(HandledEntry* file, FileHandle open) {
    if (file->folder == ByPath || file->inode != 0) return true;  // opened by path, or identity checked at open
    if (FileIdentity(open, &file->device, &file->inode)) return true;
    errno = ESTALE;  // what was examined is no regular file: the name was swapped
    return false;
}

// The mode is changed through a descriptor of the very file that was
// examined, never by a path: a name swapped for a link in the meantime
// could otherwise make a file elsewhere writable for everyone.
bool ClearAttributes(const HandledEntry& file) {
    struct stat info {};
    if (file.folder == ByPath) {
        if (lstat(file.path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
        return chmod(file.path, (info.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0;
    }
    const int fd = openat(file.folder, file.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && SameFile(file, info);
    if (ok && (info.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR)) {
        ok = fchmod(fd, (info.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0;
    }
    close(fd);
    return ok;
}

// Only a name that still refers to the examined file is removed. What is
// left between the test and the removal is a swap within this same folder
// of the walked tree, never a way out of it.
bool DeleteHandledFile(const HandledEntry& file) {
    if (file.folder == ByPath) return unlink(file.path) == 0;
    struct stat info {};
    if (fstatat(file.folder, file.name, &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISREG(info.st_mode) || !SameFile(file, info)) {
        errno = ESTALE;
        return false;
    }
    return unlinkat(file.folder, file.name, 0) == 0;
}

PathKind QueryPathKind(const char* path) {
    struct stat info {};
    if (lstat(path, &info) != 0) return PathMissing;
    if (S_ISLNK(info.st_mode)) return PathLink;
    if (S_ISDIR(info.st_mode)) return PathFolder;
    if (S_ISREG(info.st_mode)) return PathFile;
    return PathOther;
}

bool PathExists(const char* path) {
    struct stat info {};
    return lstat(path, &info) == 0;
}

bool CopyFileNew(const char* from, const char* to) {
    const int in = open(from, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (in < 0) return false;
    struct stat info {};
    if (fstat(in, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(in);
        return false;
    }
    const int out = open(to, O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, info.st_mode & 0777);
    if (out < 0) {
        close(in);
        return false;
    }
    bool ok = true;
    char buffer[65536];
    for (;;) {
        const ssize_t n = read(in, buffer, sizeof buffer);
        if (n < 0 && errno == EINTR) continue;
        if (n < 0) ok = false;
        if (n <= 0) break;
        for (ssize_t done = 0; done < n;) {
            const ssize_t w = write(out, buffer + done, static_cast<size_t>(n - done));
            if (w < 0 && errno == EINTR) continue;
            if (w <= 0) {
                ok = false;
                break;
            }
            done += w;
        }
        if (!ok) break;
    }
    close(in);
    if (close(out) != 0) ok = false;
    if (!ok) unlink(to);
    return ok;
}

bool DeletePath(const char* path) { return unlink(path) == 0; }

bool MovePath(const char* from, const char* to) {
    // Like the Win32 move, never replace an existing target.
    if (renameat2(AT_FDCWD, from, AT_FDCWD, to, RENAME_NOREPLACE) == 0) return true;
    if (errno != EINVAL && errno != ENOSYS) return false;
    // File systems without the no-replace rename: a hard link also fails
    // when the target exists.
    if (link(from, to) != 0) return false;
    if (unlink(from) != 0) {
        unlink(to);
        return false;
    }
    return true;
}

// The file put in place keeps the mode of the one it replaces, so that a
// program put back can still be run.
bool ReplacePath(const char* from, const char* to) {
    struct stat info {};
    if (lstat(to, &info) == 0 && S_ISREG(info.st_mode) && chmod(from, info.st_mode & 07777) != 0) return false;
    return rename(from, to) == 0;
}

bool MakePrivateFolder(const char* path) {
    if (mkdir(path, 0700) == 0) return true;
    struct stat info {};
    return errno == EEXIST && lstat(path, &info) == 0 && S_ISDIR(info.st_mode);
}

bool FolderIdentity(const char* path, uint64_t* device, uint64_t* inode) {
    struct stat info {};
    if (stat(path, &info) != 0 || !S_ISDIR(info.st_mode)) return false;
    *device = static_cast<uint64_t>(info.st_dev);
    *inode = static_cast<uint64_t>(info.st_ino);
    return true;
}

// There are no restart-time operations here, unless a test pretends there
// are (see seams.h).
bool HasRestartOperations() { return seamRestartRequest != nullptr; }

namespace {

bool Request(const char* from, const char* to) {
    return seamRestartRequest != nullptr && !SeamFailsRequest() && seamRestartRequest(from, to);
}

}  // namespace

bool ScheduleDelete(const char* path) { return IsNtFamily() && Request(path, nullptr); }

bool ScheduleMove(const char* from, const char* to) { return IsNtFamily() && Request(from, to); }

bool WriteWininitRename(const char* target, const char* source) { return Request(source, target); }
