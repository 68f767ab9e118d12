// POSIX: a starting path is opened and its identity taken before the scan,
// and the scan then works through that descriptor (see the tree walk's
// adapter), never through the path again.
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "cli/front_end_cli.h"
#include "cli/starting_path.h"
#include "cli/system_error.h"
#include "cli/texts.h"
#include "scan/handle_file.h"
#include "scan/walk.h"

namespace {

uint64_t Device(const struct stat& info) { return static_cast<uint64_t>(info.st_dev); }
uint64_t Inode(const struct stat& info) { return static_cast<uint64_t>(info.st_ino); }

}  // namespace

bool OpenStartingPath(const char* path, StartingPath* start) {
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
    // A folder is opened itself; a file through the folder that holds it.
    // A file that cannot be opened is refused before anything is scanned.
    int fd = -1;
    int examined = -1;
    if (start->kind == PathFolder) {
        fd = examined = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_DIRECTORY);
    } else {
        const char* slash = std::strrchr(path, '/');
        const std::string folder = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
        start->entry.name = slash == nullptr ? path : slash + 1;
        fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) examined = openat(fd, start->entry.name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
    int error = examined < 0 ? errno : 0;
    struct stat opened {};
    if (examined >= 0 && (fstat(examined, &opened) != 0 || Device(opened) != Device(info) || Inode(opened) != Inode(info))) {
        error = ESTALE;
    }
    if (examined >= 0 && examined != fd) close(examined);
    if (error != 0) {
        if (fd >= 0) close(fd);
        ReportScanError(path, CannotReadText, error);
        return false;
    }
    start->entry.device = Device(info);
    start->entry.inode = Inode(info);
    start->entry.folder = fd;
    return true;
}

bool SameStartingPath(const StartingPath& a, const StartingPath& b) {
    return a.entry.device == b.entry.device && a.entry.inode == b.entry.inode;
}

void ScanStartingPath(StartingPath* start) {
    if (start->kind != PathFolder) {
        HandleFile(&start->entry);
        return;
    }
    // The walk owns the descriptor from here on.
    WalkFolder(start->entry);
    start->entry.folder = ByPath;
}

void CloseStartingPath(StartingPath* start) {
    if (start->entry.folder >= 0) close(start->entry.folder);
    start->entry.folder = ByPath;
}
