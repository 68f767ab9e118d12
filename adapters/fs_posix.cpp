#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <new>

#include "adapters/fault_seam.h"
#include "adapters/file_io_posix.h"
#include "adapters/fs_posix.h"
#include "scan/fs.h"

const char PathSeparator = '/';

struct DirSearch {
    DIR* dir;
};

namespace {

// Delivers the next folder or regular file; links, FIFOs, sockets and
// devices are passed over so that nothing can hang or lead outside the tree.
bool NextUsable(DirSearch* search, DirEntry* entry) {
    while (dirent* item = readdir(search->dir)) {
        const size_t length = std::strlen(item->d_name);
        if (length >= EntryNameSize) continue;
        // The entry's own type saves a system call per entry; only file
        // systems that do not report it are asked.
        bool isDirectory = item->d_type == DT_DIR;
        bool isRegular = item->d_type == DT_REG;
        if (item->d_type == DT_UNKNOWN) {
            struct stat info {};
            if (fstatat(dirfd(search->dir), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
            isDirectory = S_ISDIR(info.st_mode);
            isRegular = S_ISREG(info.st_mode);
        }
        if (!isDirectory && !isRegular) continue;
        std::memcpy(entry->name, item->d_name, length + 1);
        entry->isDirectory = isDirectory;
        return true;
    }
    return false;
}

}  // namespace

DirSearch* FindFirstEntry(const char* pattern, DirEntry* entry) {
    const size_t length = std::strlen(pattern);
    if (length < 3 || std::strcmp(pattern + length - 3, "*.*") != 0) return nullptr;
    char folder[1024];
    if (length - 3 >= sizeof folder) return nullptr;
    std::memcpy(folder, pattern, length - 3);
    folder[length - 3] = '\0';

    const int fd = open(folder[0] != '\0' ? folder : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return nullptr;
    DIR* dir = fdopendir(fd);
    if (dir == nullptr) {
        close(fd);
        return nullptr;
    }
    auto* search = new (std::nothrow) DirSearch{dir};
    if (search == nullptr || !NextUsable(search, entry)) {
        closedir(dir);
        delete search;
        return nullptr;
    }
    return search;
}

bool FindNextEntry(DirSearch* search, DirEntry* entry) { return NextUsable(search, entry); }

void FindCloseSearch(DirSearch* search) {
    if (search == nullptr) return;
    closedir(search->dir);
    delete search;
}

uint32_t LogicalDriveMask() { return 0; }

bool IsFixedDrive(const char*) { return false; }

namespace {

struct HandledEntry {
    const char* path;
    int folder;
    const char* name;
    uint64_t device;
    uint64_t inode;
};

HandledEntry handled{nullptr, -1, nullptr, 0, 0};

bool IsHandled(const char* path) { return handled.path != nullptr && path == handled.path; }

bool SameFile(const struct stat& info) {
    return static_cast<uint64_t>(info.st_dev) == handled.device && static_cast<uint64_t>(info.st_ino) == handled.inode;
}

// The mode is changed through a descriptor of the very file that was
// examined, never by a path: a name swapped for a link in the meantime
// could otherwise make a file elsewhere writable for everyone.
bool ClearHandledAttributes() {
    const int fd = openat(handled.folder, handled.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return false;
    struct stat info {};
    bool ok = fstat(fd, &info) == 0 && S_ISREG(info.st_mode) && SameFile(info);
    if (ok && (info.st_mode & (S_IRUSR | S_IWUSR)) != (S_IRUSR | S_IWUSR)) {
        ok = fchmod(fd, (info.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0;
    }
    close(fd);
    return ok;
}

// Only a name that still refers to the examined file is removed. What is
// left between the test and the removal is a swap within this same folder
// of the walked tree, never a way out of it.
bool DeleteHandledEntry() {
    struct stat info {};
    if (fstatat(handled.folder, handled.name, &info, AT_SYMLINK_NOFOLLOW) != 0) return false;
    if (!S_ISREG(info.st_mode) || !SameFile(info)) {
        errno = ESTALE;
        return false;
    }
    return unlinkat(handled.folder, handled.name, 0) == 0;
}

}  // namespace

void SetHandledEntry(const char* path, int folder, const char* name, uint64_t device, uint64_t inode) {
    handled = HandledEntry{path, folder, name, device, inode};
}

void ClearHandledEntry() { handled = HandledEntry{nullptr, -1, nullptr, 0, 0}; }

FileHandle OpenHandledFile(const char* path, OpenMode mode) {
    if (!IsHandled(path)) return FileOpen(path, mode);
    FileHandle file = FileOpenAt(handled.folder, handled.name, mode, handled.device, handled.inode);
    // A read/write open before any finding (which PinExaminedFile would
    // have followed) fixes the identity itself.
    if (file != InvalidFileHandle && handled.inode == 0 && mode == OpenMode::ReadWrite) {
        FileIdentity(file, &handled.device, &handled.inode);
    }
    return file;
}

// A regular file listed without its identity takes that of the file the
// first open found, once that open has led to a finding: every later step
// (the mode change, the read/write open, the deletion) must then meet that
// same file.
bool PinExaminedFile(const char* path, FileHandle file) {
    if (!IsHandled(path) || handled.inode != 0) return true;  // opened by path, or identity checked at open
    if (FileIdentity(file, &handled.device, &handled.inode)) return true;
    errno = ESTALE;  // what was examined is no regular file: the name was swapped
    return false;
}

PathKind QueryPathKind(const char* path) {
    struct stat info {};
    if (lstat(path, &info) != 0) return PathMissing;
    if (S_ISLNK(info.st_mode)) return PathLink;
    if (S_ISDIR(info.st_mode)) return PathFolder;
    if (S_ISREG(info.st_mode)) return PathFile;
    return PathOther;
}

bool ClearAttributes(const char* path) {
    if (IsHandled(path)) return ClearHandledAttributes();
    struct stat info {};
    if (lstat(path, &info) != 0 || !S_ISREG(info.st_mode)) return false;
    return chmod(path, (info.st_mode & 07777) | S_IRUSR | S_IWUSR) == 0;
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

bool DeletePath(const char* path) {
    if (IsHandled(path)) return DeleteHandledEntry();
    return unlink(path) == 0;
}

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

// There are no restart-time operations here, unless a test pretends there
// are (see fault_seam.h).
bool HasRestartOperations() { return seamRestartRequest != nullptr; }

namespace {

bool Request(const char* from, const char* to) {
    return seamRestartRequest != nullptr && !SeamFailsRequest() && seamRestartRequest(from, to);
}

}  // namespace

bool ScheduleDelete(const char* path) { return IsNtFamily() && Request(path, nullptr); }

bool ScheduleMove(const char* from, const char* to) { return IsNtFamily() && Request(from, to); }

bool WriteWininitRename(const char* target, const char* source) { return Request(source, target); }
