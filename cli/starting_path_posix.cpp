// POSIX: the scan walks and acts through folder descriptors.
//
// A rescue system scans, as root, disks on which other users may write. A
// path that is resolved again at every step (open, mode change, deletion)
// can be redirected between two steps by swapping a folder for a symbolic
// link, and then changes files outside the tree. Here every folder is opened
// relative to its parent's descriptor with O_NOFOLLOW | O_DIRECTORY, every
// file relative to its folder's descriptor (adapters/fs_posix.h), and a file
// is deleted only while its name still refers to the file that was examined.
// Nothing outside the starting paths is reached.
//
// Descriptors also lift the length limit of the shared path buffer: the row
// text is kept in a string of its own, so trees of any depth and paths of
// any length are examined. That is why this walk is not the dialog's
// (scan/walk.cpp), though it calls the same HandleFile, counts and shows
// folders the same way and stops at the same points.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "cli/front_end_cli.h"
#include "cli/progress.h"
#include "cli/starting_path.h"
#include "adapters/fs_posix.h"
#include "scan/front_end.h"
#include "scan/handle_file.h"
#include "scan/scan_state.h"

namespace {

// Descriptors held open at once, for the deepest levels. A level further up
// is opened again through ".." of the level below when the walk returns to
// it, and used only if it is still the very folder it was.
constexpr size_t OpenLevels = 64;

struct Entry {
    size_t nameOffset;  // into the level's names
    bool isFolder;
    uint64_t device;
    uint64_t inode;
};

// A folder's entries are read whole, so that the descriptor may be closed
// meanwhile. Their names lie end to end, each ended by a zero, in one buffer:
// a long name costs no heap call of its own.
struct Listing {
    std::vector<Entry> entries;
    std::vector<char> names;
    const char* Name(const Entry& entry) const { return names.data() + entry.nameOffset; }
};

struct Level {
    int fd = -1;
    uint64_t device = 0;
    uint64_t inode = 0;
    Listing listing;
    size_t next = 0;
    size_t pathLength = 0;  // of the folder's row text, with its trailing separator
};

// The levels the walk has left are kept, and the next folder at the same
// depth reuses their buffers: once the walk has been that deep and listed a
// folder that large, listing costs no heap call.
class Levels {
public:
    size_t size() const { return depth_; }
    bool empty() const { return depth_ == 0; }
    Level& operator[](size_t i) { return slots_[i]; }
    Level& back() { return slots_[depth_ - 1]; }
    Level& push(int fd, uint64_t device, uint64_t inode, size_t pathLength) {
        if (depth_ == slots_.size()) slots_.emplace_back();
        Level& level = slots_[depth_++];
        level.fd = fd;
        level.device = device;
        level.inode = inode;
        level.listing.entries.clear();
        level.listing.names.clear();
        level.next = 0;
        level.pathLength = pathLength;
        return level;
    }
    void pop() { --depth_; }

private:
    std::vector<Level> slots_;
    size_t depth_ = 0;
};

std::string rowPath;

uint64_t Device(const struct stat& info) { return static_cast<uint64_t>(info.st_dev); }
uint64_t Inode(const struct stat& info) { return static_cast<uint64_t>(info.st_ino); }

void Error(const std::string& path, const char* what, int error) {
    std::string reason = what;
    if (error != 0) reason.append(" (").append(std::strerror(error)).append(")");
    ReportScanError(path.c_str(), reason.c_str());
}

void AddEntry(Listing* listing, const char* name, const Entry& entry) {
    listing->names.insert(listing->names.end(), name, name + std::strlen(name) + 1);
    listing->entries.push_back(entry);
}

// Folders and regular files only: links, FIFOs, sockets and devices are
// passed over, so that nothing can hang or lead outside the tree.
bool ListFolder(int fd, Listing* listing) {
    const int copy = fcntl(fd, F_DUPFD_CLOEXEC, 0);
    if (copy < 0) return false;
    DIR* dir = fdopendir(copy);
    if (dir == nullptr) {
        const int error = errno;
        close(copy);
        errno = error;
        return false;
    }
    for (;;) {
        errno = 0;
        const dirent* item = readdir(dir);
        if (item == nullptr) break;
        if (std::strcmp(item->d_name, ".") == 0 || std::strcmp(item->d_name, "..") == 0) continue;
        const size_t offset = listing->names.size();
        // A regular file's identity is learnt when it is first opened
        // (inode 0 until then), which spares a status call per file; the
        // open accepts only a regular file that no link leads to.
        if (item->d_type == DT_REG) {
            AddEntry(listing, item->d_name, Entry{offset, false, 0, 0});
            continue;
        }
        if (item->d_type != DT_DIR && item->d_type != DT_UNKNOWN) continue;
        struct stat info {};
        if (fstatat(fd, item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;  // gone meanwhile
        if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) continue;
        AddEntry(listing, item->d_name, Entry{offset, S_ISDIR(info.st_mode), Device(info), Inode(info)});
    }
    const int error = errno;
    closedir(dir);
    errno = error;
    return error == 0;
}

void CloseLevel(Level* level) {
    if (level->fd >= 0) close(level->fd);
    level->fd = -1;
}

// Counts, lists and shows the folder whose row text stands in rowPath.
void Enter(Levels* levels, int fd, uint64_t device, uint64_t inode) {
    ScanStatistics.folders += 1;
    if (rowPath.empty() || rowPath.back() != '/') rowPath.push_back('/');
    Level& level = levels->push(fd, device, inode, rowPath.size());
    if (levels->size() > OpenLevels) CloseLevel(&(*levels)[levels->size() - 1 - OpenLevels]);
    if (!ListFolder(fd, &level.listing)) Error(rowPath, "cannot list the folder", errno);
    ShowObject(rowPath.c_str());
}

// The file in hand goes to the shared per-file handling by name within its
// open folder, so that no step resolves its path again.
void HandleEntry(int folder, const char* name, uint64_t device, uint64_t inode) {
    SetHandledEntry(rowPath.c_str(), folder, name, device, inode);
    handledObjectPath = rowPath.c_str();
    HandleFile();
    handledObjectPath = CurrentObjectPath;
    ClearHandledEntry();
}

// entry is copied: the level it comes from may move when a deeper one is
// added.
void Descend(Levels* levels, const Entry entry) {
    const Level& parent = levels->back();
    const int fd = openat(parent.fd, parent.listing.Name(entry), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || Device(info) != entry.device || Inode(info) != entry.inode) {
        // Counted like a folder that cannot be listed; one that merely went
        // away meanwhile is no error.
        const int error = fd < 0 ? errno : ESTALE;
        if (fd >= 0) close(fd);
        ScanStatistics.folders += 1;
        rowPath.push_back('/');
        ShowObject(rowPath.c_str());
        if (error != ENOENT) {
            Error(rowPath, error == ESTALE ? "cannot list the folder: it was replaced during the scan" : "cannot open the folder",
                  error == ESTALE ? 0 : error);
        }
        return;
    }
    Enter(levels, fd, entry.device, entry.inode);
}

// Leaves the innermost level. When the level above was closed to save
// descriptors, it is opened again through "..", and kept only if that is
// still the very same folder; otherwise whatever is left to visit in the
// closed levels is not examined, and the user is told.
void Leave(Levels* levels) {
    Level& inner = levels->back();
    rowPath.resize(inner.pathLength);
    ShowObject(rowPath.c_str());
    if (levels->size() >= 2 && (*levels)[levels->size() - 2].fd < 0) {
        Level& outer = (*levels)[levels->size() - 2];
        const int fd = inner.fd < 0 ? -1 : openat(inner.fd, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && fstat(fd, &info) == 0 && Device(info) == outer.device && Inode(info) == outer.inode) {
            outer.fd = fd;
        } else {
            if (fd >= 0) close(fd);
            bool lost = false;
            for (size_t i = 0; i < levels->size(); ++i) {
                Level& level = (*levels)[i];
                if (level.fd >= 0 || level.next == level.listing.entries.size()) continue;
                lost = true;
                level.next = level.listing.entries.size();
            }
            if (lost) Error(rowPath.substr(0, outer.pathLength), "the folder was moved during the scan; the rest of it is not examined", 0);
        }
    }
    CloseLevel(&inner);
    levels->pop();
}

void WalkFrom(int fd, uint64_t device, uint64_t inode) {
    static Levels levels;  // kept from one starting path to the next
    Enter(&levels, fd, device, inode);
    while (!levels.empty()) {
        Level& level = levels.back();
        if (!StillScanning() || level.next == level.listing.entries.size()) {
            Leave(&levels);
            continue;
        }
        const Entry& entry = level.listing.entries[level.next++];
        const char* name = level.listing.Name(entry);
        rowPath.resize(level.pathLength);
        rowPath += name;
        if (entry.isFolder) {
            Descend(&levels, entry);
            continue;
        }
        HandleEntry(level.fd, name, entry.device, entry.inode);
        ProgressTick();
    }
}

}  // namespace

bool OpenStartingPath(const char* path, StartingPath* start) {
    *start = StartingPath{path, path, PathMissing, -1, 0, 0};
    struct stat info {};
    if (lstat(path, &info) != 0) {
        Error(path, "cannot read", errno);
        return false;
    }
    if (S_ISLNK(info.st_mode)) {
        ReportScanError(path, "is a symbolic link; give its target");
        return false;
    }
    if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) {
        ReportScanError(path, "is neither a folder nor a regular file");
        return false;
    }
    start->kind = S_ISDIR(info.st_mode) ? PathFolder : PathFile;
    // A folder is opened itself; a file through the folder that holds it,
    // which every later step then acts within, as the walk does, so that no
    // step resolves the folders on the way again.
    // A file that cannot be opened is refused before anything is scanned,
    // so that a typing error does not pass as a clean result.
    int fd = -1;
    int examined = -1;
    if (start->kind == PathFolder) {
        fd = examined = open(path, O_RDONLY | O_NOFOLLOW | O_CLOEXEC | O_DIRECTORY);
    } else {
        const char* slash = std::strrchr(path, '/');
        const std::string folder = slash == nullptr ? "." : slash == path ? "/" : std::string(path, slash);
        start->name = slash == nullptr ? path : slash + 1;
        fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) examined = openat(fd, start->name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    }
    int error = examined < 0 ? errno : 0;
    struct stat opened {};
    if (examined >= 0 && (fstat(examined, &opened) != 0 || Device(opened) != Device(info) || Inode(opened) != Inode(info))) {
        error = ESTALE;
    }
    if (examined >= 0 && examined != fd) close(examined);
    if (error != 0) {
        if (fd >= 0) close(fd);
        Error(path, "cannot read", error);
        return false;
    }
    start->device = Device(info);
    start->inode = Inode(info);
    start->folder = fd;
    return true;
}

bool SameStartingPath(const StartingPath& a, const StartingPath& b) {
    return a.device == b.device && a.inode == b.inode;
}

void ScanStartingPath(StartingPath* start) {
    rowPath = start->path;
    if (start->kind == PathFolder) {
        // The walk owns the descriptor from here on.
        WalkFrom(start->folder, start->device, start->inode);
        start->folder = -1;
        return;
    }
    HandleEntry(start->folder, start->name, start->device, start->inode);
}

void CloseStartingPath(StartingPath* start) {
    if (start->folder >= 0) close(start->folder);
    start->folder = -1;
}

void NoteUnopenedFile(const char* path) {
    const int error = errno;
    if (error == ENOENT) return;
    Error(path, error == ESTALE ? "cannot open the file: it was replaced during the scan" : "cannot open the file",
          error == ESTALE ? 0 : error);
}

// The walk here lists folders itself and reports them as it goes.
void NoteUnlistedFolder(const char*) {}
