// POSIX: the way to a saved file by descriptors from "/" (see
// restore_target.h).
#include <fcntl.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdio>  // renameat2
#include <cstdlib>
#include <vector>

#include "adapters/file_io_posix.h"
#include "cli/restore_target.h"

namespace {

constexpr char TemporarySuffix[] = ".vq-restore";

bool SameIdentity(const struct stat& info, uint64_t device, uint64_t inode) {
    return static_cast<uint64_t>(info.st_dev) == device && static_cast<uint64_t>(info.st_ino) == inode;
}

TargetStatus Fail(int code, int* error) {
    *error = code;
    return IsDiskFullError(code) ? TargetStatus::DiskFull : TargetStatus::Failed;
}

// The names of path between its slashes, without empty ones and ".";
// false at a "..", which only a walk could resolve.
bool Names(const std::string& path, std::vector<std::string>* names) {
    for (size_t start = 0; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(start, end - start);
        if (name == "..") return false;
        if (!name.empty() && name != ".") names->push_back(name);
        start = end + 1;
    }
    return true;
}

std::string Joined(const std::string& base, const std::vector<std::string>& names) {
    std::string path = base;
    for (const std::string& name : names) {
        if (path.empty() || path.back() != '/') path.push_back('/');
        path += name;
    }
    return path.empty() ? "/" : path;
}

// The real path of folder (relative to the current folder, which the scan
// never changes). A path longer than realpath can take is cut at its last
// slashes until the rest fits; the names cut off are those the walk listed,
// joined again as they are.
bool RealFolder(std::string folder, std::string* out) {
    std::string rest;
    for (;;) {
        char* real = realpath(folder.c_str(), nullptr);
        if (real != nullptr) {
            *out = real;
            std::free(real);
            break;
        }
        if (errno != ENAMETOOLONG) return false;
        const size_t cut = folder.find_last_of('/');
        if (cut == std::string::npos || cut == 0) return false;
        rest.insert(0, folder, cut, std::string::npos);
        folder.erase(cut);
    }
    std::vector<std::string> names;
    if (!Names(rest, &names)) {
        errno = ENAMETOOLONG;
        return false;
    }
    *out = Joined(*out, names);
    return true;
}

}  // namespace

bool IsDiskFullError(int error) { return error == ENOSPC || error == EFBIG || error == EDQUOT; }

void IgnoreFileSizeLimitSignal() { signal(SIGXFSZ, SIG_IGN); }

TargetStatus ReachTarget(const std::string& path, RestoreTarget* target, int* error) {
    *error = 0;
    target->path = path;
    const size_t last = path.find_last_of('/');
    if (path.empty() || path[0] != '/' || last == path.size() - 1) return Fail(EINVAL, error);
    target->name = path.substr(last + 1);
    int folder = open("/", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder < 0) return Fail(errno, error);
    for (size_t start = 1; start < last;) {
        size_t end = path.find('/', start);
        const std::string name = path.substr(start, end - start);
        const int next = openat(folder, name.c_str(), O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
        if (next < 0) {
            const int code = errno;
            // A link asked to open as a folder without being followed says
            // ENOTDIR (or ELOOP); a look at the name tells it from a file.
            struct stat info {};
            const bool link = (code == ENOTDIR || code == ELOOP) &&
                              fstatat(folder, name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 && S_ISLNK(info.st_mode);
            close(folder);
            *error = code;
            if (link) return TargetStatus::Link;
            return code == ENOENT || code == ENOTDIR ? TargetStatus::Gone : TargetStatus::Failed;
        }
        close(folder);
        folder = next;
        start = end + 1;
    }
    target->folder = folder;
    return TargetStatus::Done;
}

TargetStatus HashTarget(RestoreTarget* target, char hex[65], int* error) {
    *error = 0;
    target->exists = false;
    // Looked at before it is opened: a device or a FIFO is never opened.
    struct stat named {};
    if (fstatat(target->folder, target->name.c_str(), &named, AT_SYMLINK_NOFOLLOW) != 0) {
        return errno == ENOENT ? TargetStatus::Done : Fail(errno, error);
    }
    if (!S_ISREG(named.st_mode)) return TargetStatus::NotFile;
    const int fd = openat(target->folder, target->name.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return errno == ELOOP ? TargetStatus::NotFile : Fail(errno, error);
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode) || info.st_dev != named.st_dev || info.st_ino != named.st_ino) {
        close(fd);
        return TargetStatus::Changed;  // swapped between the look and the open
    }
    FileHandle file = FileAdopt(fd);
    if (file == InvalidFileHandle) return Fail(errno, error);
    HashFromStart(file, hex);
    FileClose(file);
    target->exists = true;
    target->device = static_cast<uint64_t>(info.st_dev);
    target->inode = static_cast<uint64_t>(info.st_ino);
    target->mode = static_cast<uint32_t>(info.st_mode & 07777);
    return TargetStatus::Done;
}

TargetStatus CreateTemporary(RestoreTarget* target, int* error) {
    *error = 0;
    const std::string name = target->name + TemporarySuffix;
    // What an earlier restore left when it was cut short; the name itself
    // goes, never what a link there would lead to.
    if (unlinkat(target->folder, name.c_str(), 0) != 0 && errno != ENOENT) return Fail(errno, error);
    const int fd = openat(target->folder, name.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return Fail(errno, error);
    target->temporary = name;
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        const int code = errno;
        close(fd);
        unlinkat(target->folder, name.c_str(), 0);
        target->temporary.clear();
        return Fail(code, error);
    }
    target->writtenDevice = static_cast<uint64_t>(info.st_dev);
    target->writtenInode = static_cast<uint64_t>(info.st_ino);
    target->written = FileAdopt(fd);
    if (target->written == InvalidFileHandle) return Fail(errno, error);
    target->writtenFd = fd;
    return TargetStatus::Done;
}

TargetStatus FinishTemporary(RestoreTarget* target, const SavedOwner& owner, bool* ownerKept, int* error) {
    *error = 0;
    *ownerKept = true;
    const int fd = target->writtenFd;
    int mode = -1;
    if (owner.known) {
        // Owner and group go first: a change of owner clears the set-ID
        // bits, and those are given only to a file whose owner is the one
        // they were set for, never to one that stays root's.
        *ownerKept = fchown(fd, static_cast<uid_t>(owner.user), static_cast<gid_t>(owner.group)) == 0;
        mode = static_cast<int>(owner.mode & (*ownerKept ? 07777u : 0777u));
    } else if (target->exists) {
        // Saved without its owner (an older manifest): the file put back
        // keeps the mode of the one it replaces, so that a program stays
        // runnable, without set-ID bits that were never its own.
        mode = static_cast<int>(target->mode & 0777u);
    }
    if (mode >= 0 && fchmod(fd, static_cast<mode_t>(mode)) != 0) return Fail(errno, error);
    if (!FileFlush(target->written)) return Fail(errno, error);
    const int closed = FileClose(target->written);
    target->written = InvalidFileHandle;
    target->writtenFd = -1;
    if (closed == 0) return Fail(errno, error);
    return TargetStatus::Done;
}

TargetStatus PlaceTarget(RestoreTarget* target, int* error) {
    *error = 0;
    const int folder = target->folder;
    const char* from = target->temporary.c_str();
    const char* to = target->name.c_str();
    struct stat info {};
    // The temporary name must still be the file written, not one put there
    // meanwhile.
    if (fstatat(folder, from, &info, AT_SYMLINK_NOFOLLOW) != 0) return Fail(errno, error);
    if (!SameIdentity(info, target->writtenDevice, target->writtenInode)) return Fail(ESTALE, error);
    const bool there = fstatat(folder, to, &info, AT_SYMLINK_NOFOLLOW) == 0;
    if (!there && errno != ENOENT) return Fail(errno, error);
    if (there != target->exists || (there && !SameIdentity(info, target->device, target->inode))) {
        return TargetStatus::Changed;
    }
    bool moved = false;
    if (target->exists) {
        moved = renameat(folder, from, folder, to) == 0;
    } else {
        moved = renameat2(folder, from, folder, to, RENAME_NOREPLACE) == 0;
        if (!moved && (errno == EINVAL || errno == ENOSYS)) {
            // File systems without the no-replace rename: a hard link also
            // fails when the name exists.
            moved = linkat(folder, from, folder, to, 0) == 0;
            if (moved) unlinkat(folder, from, 0);
        }
        if (!moved && errno == EEXIST) return TargetStatus::Changed;
    }
    if (!moved) return Fail(errno, error);
    target->placed = true;
    // The name reaches the disk before the manifest says "restored".
    if (fsync(folder) != 0) return Fail(errno, error);
    return TargetStatus::Done;
}

void CloseTarget(RestoreTarget* target) {
    if (target->written != InvalidFileHandle) FileClose(target->written);
    target->written = InvalidFileHandle;
    target->writtenFd = -1;
    struct stat info {};
    if (!target->placed && !target->temporary.empty() &&
        fstatat(target->folder, target->temporary.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
        SameIdentity(info, target->writtenDevice, target->writtenInode)) {
        unlinkat(target->folder, target->temporary.c_str(), 0);
    }
    if (target->folder >= 0) close(target->folder);
    target->folder = -1;
}

bool RecordedPathOf(const HandledEntry& file, FileHandle examined, std::string* path, SavedOwner* owner, int* error) {
    *error = 0;
    *owner = SavedOwner{};
    const std::string shown = file.path;
    const size_t slash = shown.find_last_of('/');
    const std::string name = slash == std::string::npos ? shown : shown.substr(slash + 1);
    const std::string folder = slash == std::string::npos ? "." : slash == 0 ? "/" : shown.substr(0, slash);
    std::string absolute;
    if (name.empty() || name == "." || name == "..") {
        *error = EINVAL;
        return false;
    }
    if (!RealFolder(folder, &absolute)) {
        *error = errno;
        return false;
    }
    absolute = Joined(absolute, {name});
    if (!IsRecordedPathForm(absolute)) {
        *error = EINVAL;
        return false;
    }
    // The restore's own way, taken now: the path is recorded only when it
    // leads, through no link, to the very file that was examined.
    RestoreTarget target;
    const TargetStatus status = ReachTarget(absolute, &target, error);
    struct stat info {};
    uint64_t device = 0;
    uint64_t inode = 0;
    const bool same = status == TargetStatus::Done &&
                      fstatat(target.folder, target.name.c_str(), &info, AT_SYMLINK_NOFOLLOW) == 0 &&
                      S_ISREG(info.st_mode) && FileIdentity(examined, &device, &inode) &&
                      SameIdentity(info, device, inode);
    CloseTarget(&target);
    if (!same) {
        if (*error == 0) *error = ESTALE;
        return false;
    }
    *path = absolute;
    owner->known = true;
    owner->user = static_cast<uint32_t>(info.st_uid);
    owner->group = static_cast<uint32_t>(info.st_gid);
    owner->mode = static_cast<uint32_t>(info.st_mode & 07777);
    return true;
}

std::string AbsoluteForm(const char* path, bool real) {
    // The longest part of the path that exists has its links resolved; the
    // names past it (a file that is gone, a folder that is gone) follow as
    // written.
    std::string head = path;
    std::string rest;
    std::string base;
    while (real) {
        while (head.size() > 1 && head.back() == '/') head.pop_back();
        char* resolved = realpath(head.empty() ? "." : head.c_str(), nullptr);
        if (resolved != nullptr) {
            base = resolved;
            std::free(resolved);
            break;
        }
        if (head.empty() || head == "/" || head == ".") break;
        const size_t cut = head.find_last_of('/');
        rest.insert(0, (cut == std::string::npos ? head : head.substr(cut + 1)) + "/");
        head = cut == std::string::npos ? "" : cut == 0 ? "/" : head.substr(0, cut);
    }
    if (base.empty()) {
        // Written as it is, from the current folder.
        rest = path;
        if (path[0] != '/') {
            char* current = realpath(".", nullptr);
            if (current != nullptr) base = current;
            std::free(current);
        }
    }
    // "." and ".." past that are taken as the words they are.
    std::vector<std::string> names;
    const std::string whole = base + "/" + rest;
    for (size_t start = 0; start <= whole.size();) {
        size_t end = whole.find('/', start);
        if (end == std::string::npos) end = whole.size();
        const std::string name = whole.substr(start, end - start);
        if (name == "..") {
            if (!names.empty()) names.pop_back();
        } else if (!name.empty() && name != ".") {
            names.push_back(name);
        }
        start = end + 1;
    }
    return Joined("", names);
}
