// velmora-bare-reader [--evict] ROOT...
// The floor of the scan benchmark: walks the tree as the scanner does and
// reads only the bytes a verdict needs, once: the 64-byte header and, for
// MZ files, the new header and the 32 KB at 4096. No checksum, no verdict.
// With --evict it reads nothing and asks the kernel to drop each file's
// cached data instead (written out first, then posix_fadvise DONTNEED), for
// cold-cache runs of this tree only.
#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>

namespace {

bool evict = false;
unsigned long files = 0;
unsigned long long bytesRead = 0;
char region[32768];

void ReadFile(int folder, const char* name) {
    const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    files += 1;
    if (evict) {
        // Dirty pages cannot be dropped: a freshly built tree is written
        // out first.
        fdatasync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        close(fd);
        return;
    }
    unsigned char header[64];
    const ssize_t n = pread(fd, header, sizeof header, 0);
    if (n == 64 && header[0] == 'M' && header[1] == 'Z') {
        uint32_t lfanew = 0;
        std::memcpy(&lfanew, header + 60, 4);
        unsigned char pe[248];
        const ssize_t h = lfanew < 0x7FFFFFFFu ? pread(fd, pe, sizeof pe, lfanew) : 0;
        const ssize_t r = pread(fd, region, sizeof region, 4096);
        bytesRead += static_cast<unsigned long long>((h > 0 ? h : 0) + (r > 0 ? r : 0));
    }
    if (n > 0) bytesRead += static_cast<unsigned long long>(n);
    close(fd);
}

void Walk(int folder) {
    DIR* dir = fdopendir(folder);
    if (dir == nullptr) {
        close(folder);
        return;
    }
    while (dirent* entry = readdir(dir)) {
        if (entry->d_name[0] == '.' && (entry->d_name[1] == '\0' || (entry->d_name[1] == '.' && entry->d_name[2] == '\0'))) {
            continue;
        }
        unsigned char type = entry->d_type;
        if (type == DT_UNKNOWN) {
            struct stat info {};
            if (fstatat(dirfd(dir), entry->d_name, &info, AT_SYMLINK_NOFOLLOW) != 0) continue;
            type = S_ISDIR(info.st_mode) ? DT_DIR : S_ISREG(info.st_mode) ? DT_REG : DT_UNKNOWN;
        }
        if (type == DT_DIR) {
            const int sub = openat(dirfd(dir), entry->d_name, O_RDONLY | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC);
            if (sub >= 0) Walk(sub);
        } else if (type == DT_REG) {
            ReadFile(dirfd(dir), entry->d_name);
        }
    }
    closedir(dir);
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    if (argc > 1 && std::strcmp(argv[1], "--evict") == 0) {
        evict = true;
        first = 2;
    }
    if (first >= argc) {
        std::fprintf(stderr, "usage: velmora-bare-reader [--evict] ROOT...\n");
        return 2;
    }
    for (int i = first; i < argc; ++i) {
        const int fd = open(argv[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) Walk(fd);
    }
    std::printf("%lu files, %llu bytes read\n", files, bytesRead);
    return 0;
}
