#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <new>

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
        struct stat info {};
        if (fstatat(dirfd(search->dir), item->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
        if (!S_ISDIR(info.st_mode) && !S_ISREG(info.st_mode)) continue;
        std::memcpy(entry->name, item->d_name, length + 1);
        entry->isDirectory = S_ISDIR(info.st_mode);
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

PathKind QueryPathKind(const char* path) {
    struct stat info {};
    if (lstat(path, &info) != 0) return PathMissing;
    if (S_ISDIR(info.st_mode)) return PathFolder;
    if (S_ISREG(info.st_mode)) return PathFile;
    return PathOther;
}
