// velmora-bare-reader [--evict | -j N] [--whole] ROOT...
// The floor of the scan benchmark: walks the tree as the scanner does and
// reads only the bytes a verdict needs, once: the 64-byte header and, for
// MZ files, the new header and the 32 KB at 4096. No checksum, no verdict.
// With --whole it reads every file whole instead, front to back in reads of
// 1 MiB: the floor of a scan that must look at every byte, as the readers
// of mail folders and archives do.
// With --evict it reads nothing and asks the kernel to drop each file's
// cached data instead (written out first, then posix_fadvise DONTNEED), for
// cold-cache runs of this tree only.
// With -j N (--jobs N) N threads do the same reads: the walk stays on the
// main thread and hands each file, as its open folder and its name, to the
// readers through a bounded queue, which is how the scanner's readers get
// their files. A folder stays open until the last of its files was read.
// -j 1, the default, is the one-thread reader; --evict always runs on one.
#include <dirent.h>
#include <fcntl.h>
#include <limits.h>
#include <pthread.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

namespace {

constexpr size_t RegionSize = 32768;
// Large enough that a whole read costs one call per MiB, small enough to
// stay in the cache it is read into.
constexpr size_t WholeChunk = 1u << 20;
// Enough readers to keep any disk's queue full; with the queue's bound it
// also keeps the open folders and files well under the usual limit of 1024.
constexpr unsigned long MaxJobs = 256;

// Each reader counts on its own line of the cache, summed at the end.
struct alignas(64) Tally {
    unsigned long files = 0;
    unsigned long long bytesRead = 0;
};

bool evict = false;
bool whole = false;
Tally total;
char region[WholeChunk];

void ReadFile(int folder, const char* name, Tally* tally, char* buffer) {
    const int fd = openat(folder, name, O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return;
    tally->files += 1;
    if (evict) {
        // Dirty pages cannot be dropped: a freshly built tree is written
        // out first.
        fdatasync(fd);
        posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED);
        close(fd);
        return;
    }
    if (whole) {
        ssize_t n = 0;
        while ((n = read(fd, buffer, WholeChunk)) > 0) tally->bytesRead += static_cast<unsigned long long>(n);
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
        const ssize_t r = pread(fd, buffer, RegionSize, 4096);
        tally->bytesRead += static_cast<unsigned long long>((h > 0 ? h : 0) + (r > 0 ? r : 0));
    }
    if (n > 0) tally->bytesRead += static_cast<unsigned long long>(n);
    close(fd);
}

// A folder whose files are being read by the readers: the walk holds it
// while it lists it and every file handed out holds it until it was read;
// whoever lets go last closes it.
struct Folder {
    explicit Folder(DIR* opened) : dir(opened), fd(dirfd(opened)) {}
    DIR* dir;
    int fd;
    std::atomic<unsigned long> holders{1};
};

void LetGo(Folder* folder) {
    if (folder->holders.fetch_sub(1, std::memory_order_acq_rel) == 1) {
        closedir(folder->dir);
        delete folder;
    }
}

struct Item {
    Folder* folder;
    size_t length;
    char name[NAME_MAX + 1];
};

// The bounded queue between the walk and the readers. A side is woken only
// when it waits, so a queue that neither runs dry nor fills costs no wake-up.
class Queue {
public:
    explicit Queue(size_t capacity) : slots_(capacity) {}

    // Called by the walk; blocks while the queue is full.
    void Push(Folder* folder, const char* name) {
        const size_t length = std::strlen(name);
        if (length > NAME_MAX) {
            LetGo(folder);
            return;
        }
        pthread_mutex_lock(&lock_);
        while (count_ == slots_.size()) {
            walkWaits_ = true;
            pthread_cond_wait(&notFull_, &lock_);
            walkWaits_ = false;
        }
        Item& item = slots_[(head_ + count_) % slots_.size()];
        item.folder = folder;
        item.length = length;
        std::memcpy(item.name, name, length + 1);
        count_ += 1;
        if (readersWaiting_ > 0) pthread_cond_signal(&notEmpty_);
        pthread_mutex_unlock(&lock_);
    }

    // Called by a reader; false once the walk ended and the queue is empty.
    bool Pop(Item* out) {
        pthread_mutex_lock(&lock_);
        while (count_ == 0 && !ended_) {
            readersWaiting_ += 1;
            pthread_cond_wait(&notEmpty_, &lock_);
            readersWaiting_ -= 1;
        }
        if (count_ == 0) {
            pthread_mutex_unlock(&lock_);
            return false;
        }
        const Item& item = slots_[head_];
        out->folder = item.folder;
        out->length = item.length;
        std::memcpy(out->name, item.name, item.length + 1);
        head_ = (head_ + 1) % slots_.size();
        count_ -= 1;
        if (walkWaits_) pthread_cond_signal(&notFull_);
        pthread_mutex_unlock(&lock_);
        return true;
    }

    void End() {
        pthread_mutex_lock(&lock_);
        ended_ = true;
        pthread_cond_broadcast(&notEmpty_);
        pthread_mutex_unlock(&lock_);
    }

private:
    pthread_mutex_t lock_ = PTHREAD_MUTEX_INITIALIZER;
    pthread_cond_t notEmpty_ = PTHREAD_COND_INITIALIZER;
    pthread_cond_t notFull_ = PTHREAD_COND_INITIALIZER;
    std::vector<Item> slots_;
    size_t head_ = 0;
    size_t count_ = 0;
    unsigned long readersWaiting_ = 0;
    bool walkWaits_ = false;
    bool ended_ = false;
};

// Set only with more than one reader: the walk then hands files out.
Queue* queue = nullptr;

void* Reader(void* argument) {
    auto* tally = static_cast<Tally*>(argument);
    std::vector<char> buffer(WholeChunk);
    Item item;
    while (queue->Pop(&item)) {
        ReadFile(item.folder->fd, item.name, tally, buffer.data());
        LetGo(item.folder);
    }
    return nullptr;
}

void Walk(int folder) {
    DIR* dir = fdopendir(folder);
    if (dir == nullptr) {
        close(folder);
        return;
    }
    Folder* shared = queue != nullptr ? new Folder(dir) : nullptr;
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
            if (shared == nullptr) {
                ReadFile(dirfd(dir), entry->d_name, &total, region);
            } else {
                shared->holders.fetch_add(1, std::memory_order_relaxed);
                queue->Push(shared, entry->d_name);
            }
        }
    }
    if (shared == nullptr) {
        closedir(dir);
    } else {
        LetGo(shared);
    }
}

int Usage() {
    std::fprintf(stderr, "usage: velmora-bare-reader [--evict | -j N] [--whole] ROOT...\n");
    return 2;
}

// The number of -j N, or 0 if it is none from 1 to MaxJobs.
unsigned long ParseJobs(const char* text) {
    if (text == nullptr || *text < '1' || *text > '9') return 0;
    char* end = nullptr;
    const unsigned long jobs = std::strtoul(text, &end, 10);
    return *end == '\0' && jobs <= MaxJobs ? jobs : 0;
}

}  // namespace

int main(int argc, char** argv) {
    int first = 1;
    unsigned long jobs = 1;
    while (first < argc && argv[first][0] == '-') {
        const char* arg = argv[first];
        if (std::strcmp(arg, "--evict") == 0) {
            evict = true;
        } else if (std::strcmp(arg, "--whole") == 0) {
            whole = true;
        } else if (std::strcmp(arg, "-j") == 0 || std::strcmp(arg, "--jobs") == 0) {
            first += 1;
            jobs = ParseJobs(first < argc ? argv[first] : nullptr);
        } else if (std::strncmp(arg, "--jobs=", 7) == 0) {
            jobs = ParseJobs(arg + 7);
        } else if (std::strncmp(arg, "-j", 2) == 0) {
            jobs = ParseJobs(arg + 2);
        } else {
            return Usage();
        }
        if (jobs == 0) {
            std::fprintf(stderr, "velmora-bare-reader: -j takes a number of readers from 1 to %lu\n", MaxJobs);
            return 2;
        }
        first += 1;
    }
    if (first >= argc) return Usage();
    if (evict && jobs > 1) {
        std::fprintf(stderr, "velmora-bare-reader: --evict runs on one thread\n");
        return 2;
    }

    // Four slots a reader, within bounds: enough that a reader finishing a
    // file finds the next one waiting, few enough to keep folders open only
    // briefly.
    const size_t capacity = jobs * 4 < 64 ? 64 : jobs * 4 > 256 ? 256 : jobs * 4;
    Queue handOut(capacity);
    std::vector<Tally> tallies(jobs > 1 ? jobs : 0);
    std::vector<pthread_t> readers;
    if (jobs > 1) {
        queue = &handOut;
        for (Tally& tally : tallies) {
            pthread_t thread;
            if (pthread_create(&thread, nullptr, Reader, &tally) != 0) {
                std::fprintf(stderr, "velmora-bare-reader: cannot start reader %zu\n", readers.size() + 1);
                break;
            }
            readers.push_back(thread);
        }
        if (readers.empty()) return 1;
    }

    for (int i = first; i < argc; ++i) {
        const int fd = open(argv[i], O_RDONLY | O_DIRECTORY | O_CLOEXEC);
        if (fd >= 0) Walk(fd);
    }
    if (queue != nullptr) {
        queue->End();
        for (pthread_t thread : readers) pthread_join(thread, nullptr);
        for (const Tally& tally : tallies) {
            total.files += tally.files;
            total.bytesRead += tally.bytesRead;
        }
    }
    std::printf("%lu files, %llu bytes read\n", total.files, total.bytesRead);
    return 0;
}
