// POSIX: the walk lists and descends through folder descriptors.
//
// A rescue system scans, as root, disks on which other users may write. A
// path that is resolved again at every step (open, mode change, deletion)
// can be redirected between two steps by swapping a folder for a symbolic
// link, and then changes files outside the tree. Here every folder is opened
// relative to its parent's descriptor with O_NOFOLLOW | O_DIRECTORY, and
// every file is handed over by name within its folder's descriptor, so
// nothing outside the starting folder is reached.
//
// Descriptors also lift the length limit of the dialog's path buffer: the
// path shown is kept in a string of its own, so trees of any depth and paths
// of any length are walked.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <string>
#include <vector>

#include "adapters/seams.h"
#include "scan/tree_walk.h"

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
    bool listed = false;
    int openError = 0;  // why fd is -1, for a starting folder that could not be opened
    Listing listing;
    size_t next = 0;
    size_t pathLength = 0;  // of the folder's path, with its trailing separator
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
        level.listed = false;
        level.openError = 0;
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

// Some moves give more than one step (a folder that cannot be opened is
// entered, has a problem and is left); they wait here. Each names its path
// by a length of shownPath, and each waiting step's path is no longer than
// the one before it.
struct Pending {
    TreeEvent event;
    size_t pathLength;
    FolderProblem problem;
    int error;
};

Levels levels;
std::string shownPath;
Pending pending[3];
size_t pendingCount = 0;
size_t pendingNext = 0;
bool stopped = false;
TreeLimits limits;

uint64_t Device(const struct stat& info) { return static_cast<uint64_t>(info.st_dev); }
uint64_t Inode(const struct stat& info) { return static_cast<uint64_t>(info.st_ino); }

void Queue(TreeEvent event, FolderProblem problem = FolderProblem::Unlisted, int error = 0) {
    pending[pendingCount++] = Pending{event, shownPath.size(), problem, error};
}

void QueueProblem(size_t pathLength, FolderProblem problem, int error) {
    pending[pendingCount++] = Pending{TreeEvent::FolderProblem, pathLength, problem, error};
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

// The folder whose path stands in shownPath is entered; it is listed by the
// next step, unless the walk is stopped first.
void Enter(int fd, uint64_t device, uint64_t inode) {
    if (shownPath.empty() || shownPath.back() != '/') shownPath.push_back('/');
    levels.push(fd, device, inode, shownPath.size());
    if (levels.size() > OpenLevels) CloseLevel(&levels[levels.size() - 1 - OpenLevels]);
    Queue(TreeEvent::EnterFolder);
}

// A folder that cannot be opened, or not as the folder it was listed as, is
// entered and left like one that cannot be listed.
void EnterUnopened(int error) {
    shownPath.push_back('/');
    Queue(TreeEvent::EnterFolder);
    Queue(TreeEvent::FolderProblem, error == ESTALE ? FolderProblem::Replaced : FolderProblem::Unopened,
          error == ESTALE ? 0 : error);
    Queue(TreeEvent::LeaveFolder);
}

bool Skipped(const Entry& entry) {
    return limits.skipFolder && entry.device == limits.skipDevice && entry.inode == limits.skipInode;
}

// entry is copied: the level it comes from may move when a deeper one is
// added.
void Descend(const Entry entry) {
    if (Skipped(entry)) return;
    if (limits.stayOnDevice && entry.device != levels[0].device) {
        shownPath.push_back('/');
        Queue(TreeEvent::FolderProblem, FolderProblem::OtherDevice);
        return;
    }
    const Level& parent = levels.back();
    const char* name = parent.listing.Name(entry);
    const int refused = seamOpenError != nullptr ? seamOpenError(name) : 0;
    const int fd = refused != 0 ? -1 : openat(parent.fd, name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
    if (refused != 0) errno = refused;
    struct stat info {};
    if (fd < 0 || fstat(fd, &info) != 0 || Device(info) != entry.device || Inode(info) != entry.inode) {
        const int error = fd < 0 ? errno : ESTALE;
        if (fd >= 0) close(fd);
        EnterUnopened(error);
        return;
    }
    Enter(fd, entry.device, entry.inode);
}

// Leaves the innermost level. When the level above was closed to save
// descriptors, it is opened again through "..", and kept only if that is
// still the very same folder; otherwise whatever is left to visit in the
// closed levels is skipped, and a problem says so.
void Leave() {
    Level& inner = levels.back();
    shownPath.resize(inner.pathLength);
    if (inner.listed) Queue(TreeEvent::LeaveFolder);
    if (levels.size() >= 2 && levels[levels.size() - 2].fd < 0) {
        Level& outer = levels[levels.size() - 2];
        const int fd = inner.fd < 0 ? -1 : openat(inner.fd, "..", O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && fstat(fd, &info) == 0 && Device(info) == outer.device && Inode(info) == outer.inode) {
            outer.fd = fd;
        } else {
            if (fd >= 0) close(fd);
            bool lost = false;
            for (size_t i = 0; i < levels.size(); ++i) {
                Level& level = levels[i];
                if (level.fd >= 0 || level.next == level.listing.entries.size()) continue;
                lost = true;
                level.next = level.listing.entries.size();
            }
            if (lost) QueueProblem(outer.pathLength, FolderProblem::Moved, 0);
        }
    }
    CloseLevel(&inner);
    levels.pop();
}

// Makes the next move of the walk, which queues at least one step unless
// the walk is over.
bool Move() {
    while (pendingCount == 0) {
        if (levels.empty()) return false;
        Level& level = levels.back();
        if (!level.listed && !stopped) {
            level.listed = true;
            if (level.fd < 0) {
                Queue(TreeEvent::FolderProblem, FolderProblem::Unlisted, level.openError);
            } else if (!ListFolder(level.fd, &level.listing)) {
                Queue(TreeEvent::FolderProblem, FolderProblem::Unlisted, errno);
            }
            continue;
        }
        if (stopped || level.next == level.listing.entries.size()) {
            Leave();
            continue;
        }
        const Entry& entry = level.listing.entries[level.next++];
        shownPath.resize(level.pathLength);
        shownPath += level.listing.Name(entry);
        if (entry.isFolder) {
            Descend(entry);
        } else {
            Queue(TreeEvent::File);
        }
    }
    return true;
}

}  // namespace

void OpenTree(const HandledEntry& start, const TreeLimits& given) {
    limits = given;
    while (!levels.empty()) {
        CloseLevel(&levels.back());
        levels.pop();
    }
    pendingCount = pendingNext = 0;
    stopped = false;
    shownPath = start.path;
    int fd = start.folder;
    uint64_t device = start.device;
    uint64_t inode = start.inode;
    if (fd == ByPath) {
        fd = open(start.path[0] != '\0' ? start.path : ".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        struct stat info {};
        if (fd >= 0 && fstat(fd, &info) == 0) {
            device = Device(info);
            inode = Inode(info);
        }
    }
    const int error = fd < 0 ? errno : 0;
    Enter(fd, device, inode);
    // A folder that cannot be opened is entered and told as one that cannot
    // be listed, with the error of the open.
    levels.back().openError = error;
}

bool NextStep(TreeStep* step) {
    if (pendingNext == pendingCount) {
        pendingCount = pendingNext = 0;
        if (!Move()) return false;
    }
    const Pending& next = pending[pendingNext++];
    shownPath.resize(next.pathLength);
    *step = TreeStep{};
    step->event = next.event;
    step->problem = next.problem;
    step->error = next.error;
    step->entry.path = shownPath.c_str();
    if (next.event == TreeEvent::File) {
        Level& level = levels.back();
        const Entry& entry = level.listing.entries[level.next - 1];
        step->entry = HandledEntry{shownPath.c_str(), level.fd, level.listing.Name(entry), entry.device, entry.inode};
    }
    return true;
}

void StopTree() { stopped = true; }
