// POSIX: a starting path is checked, and its identity taken, before the
// scan; the check then closes what it opened, so that any number of starting
// paths fits under any descriptor limit. When the scan reaches the path, it
// is opened again and used only if it is still the very file or folder that
// was checked; from there on the scan works through that descriptor (see
// the tree walk's adapter), never through the path again.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/messages.h"
#include "cli/starting_path.h"
#include "cli/texts.h"
#include "scan/handle_file.h"
#include "scan/walk.h"

namespace {

uint64_t Device(const struct stat& info) { return static_cast<uint64_t>(info.st_dev); }
uint64_t Inode(const struct stat& info) { return static_cast<uint64_t>(info.st_ino); }

bool SameIdentity(const struct stat& info, const HandledEntry& entry) {
    return Device(info) == entry.device && Inode(info) == entry.inode;
}

// Opens the folder in which start is scanned: a folder itself, or the folder
// that holds a file, with the file then opened within it to see that it is
// there and readable. What is opened must have start's identity. Returns the
// folder's descriptor, or -1 with errno set (ESTALE: another file or folder
// stands under the name now).
int OpenAsChecked(const StartingPath& start) {
    if (start.kind == PathFolder) {
        const int fd = open(start.entry.path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_DIRECTORY);
        struct stat info {};
        if (fd < 0 || (fstat(fd, &info) == 0 && SameIdentity(info, start.entry))) return fd;
        close(fd);
        errno = ESTALE;
        return -1;
    }
    const char* path = start.entry.path;
    const char* slash = std::strrchr(path, '/');
    const std::string folder = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
    const int fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (fd < 0) return -1;
    const int file = openat(fd, start.entry.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    int error = file < 0 ? errno : 0;
    struct stat info {};
    if (file >= 0 && (fstat(file, &info) != 0 || !S_ISREG(info.st_mode) || !SameIdentity(info, start.entry))) {
        error = ESTALE;
    }
    if (file >= 0) close(file);
    if (error == 0) return fd;
    close(fd);
    errno = error;
    return -1;
}

}  // namespace

bool CheckStartingPath(const char* path, StartingPath* start) {
    *start = StartingPath{};
    start->entry = EntryForPath(path);
    struct stat info {};
    if (lstat(path, &info) != 0) {
        ReportScanError(path, CannotReadText, errno);
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        ReportScanError(path, SymbolicLinkText);
        return false;
    }
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) {
        ReportScanError(path, NotFileOrFolderText);
        return false;
    }
    start->kind = S_ISDIR(info.st_mode) ? PathFolder : PathFile;
    if (start->kind == PathFile) {
        const char* slash = std::strrchr(path, '/');
        start->entry.name = slash == nullptr ? path : slash + 1;
    }
    start->entry.device = Device(info);
    start->entry.inode = Inode(info);
    // What cannot be opened now is refused before anything is scanned; the
    // scan opens it again when it comes to it.
    const int fd = OpenAsChecked(*start);
    if (fd < 0) {
        ReportScanError(path, CannotReadText, errno);
        return false;
    }
    close(fd);
    return true;
}

bool SameStartingPath(const StartingPath& a, const StartingPath& b) {
    return a.entry.device == b.entry.device && a.entry.inode == b.entry.inode;
}

void ScanStartingPath(StartingPath* start) {
    const bool folder = start->kind == PathFolder;
    const int fd = OpenAsChecked(*start);
    if (fd < 0) {
        // Something else under the name since the check (a link among
        // them, which the open refuses to follow) is not scanned: it is not
        // what was asked for.
        const int error = errno;
        if (error == ESTALE || error == ELOOP || error == ENOTDIR) {
            ReportScanError(start->entry.path, folder ? ReplacedFolderText : ReplacedFileText);
        } else {
            ReportScanError(start->entry.path, folder ? UnopenedFolderText : UnopenedFileText, error);
        }
        return;
    }
    start->entry.folder = fd;
    if (folder) {
        // The walk owns the descriptor from here on.
        WalkFolder(start->entry);
    } else {
        HandleFile(&start->entry);
        close(fd);
    }
    start->entry.folder = ByPath;
}
