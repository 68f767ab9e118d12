// POSIX file primitives: the same contract as the Win32 ones, for the
// native build (tests, fuzzing, the command-line scanner on Linux).
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <new>

#include "adapters/seams.h"
#include "engine/file_io.h"
#include "adapters/file_io_posix.h"
#include "adapters/file_slots.h"

// The position lives here and every transfer is positioned (pread,
// pwrite): a seek costs no system call.
struct FileObject {
    int fd;
    bool seekFailed;
    int64_t position;
    int64_t sizeAtOpen;  // -1 when the open asked no status
    uint64_t device;
    uint64_t inode;
    bool statusPending;  // opened without a status call: FileIdentity asks
};

namespace {

// A repair checks the file and then writes it; two scanners doing that to
// the same file at once would each act on what the other is changing. The
// read/write handle therefore holds an exclusive advisory lock until it is
// closed. A process that keeps the lock for good must not stall the scan:
// after about 30 s the file counts as one that cannot be opened for writing.
// File systems without such locks are written without one; the repair's own
// checks through the handle still stand.
bool LockForWriting(int fd) {
    const timespec pause{0, 10 * 1000 * 1000};
    for (int tries = 0; tries < 3000; ++tries) {
        if (flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
        if (errno == EINTR) continue;
        if (errno != EWOULDBLOCK) return errno == ENOLCK || errno == EINVAL || errno == EOPNOTSUPP;
        nanosleep(&pause, nullptr);
    }
    return false;
}

FileSlots<FileObject> fileObjects;

}  // namespace

namespace {

FileHandle NewFile(const FileObject& object) {
    auto* file = fileObjects.New(object);
    if (file == nullptr) {
        close(object.fd);
        errno = ENOMEM;
    }
    return file;
}

// Takes an open descriptor into a handle once it is known to be a regular
// file (with that device and inode, unless inode is 0) and, for writing,
// locked; otherwise closes it and fails with errno set.
FileHandle AdoptChecked(int fd, OpenMode mode, uint64_t device, uint64_t inode) {
    struct stat info {};
    int error = 0;
    if (fstat(fd, &info) != 0) {
        error = errno;
    } else if (!S_ISREG(info.st_mode) ||
               (inode != 0 && (static_cast<uint64_t>(info.st_dev) != device ||
                               static_cast<uint64_t>(info.st_ino) != inode))) {
        // Swapped since it was listed: whatever is there now was never
        // examined, so it is not opened either.
        error = ESTALE;
    } else if (mode == OpenMode::ReadWrite && !LockForWriting(fd)) {
        error = errno != 0 ? errno : EWOULDBLOCK;
    }
    if (error != 0) {
        close(fd);
        errno = error;
        return InvalidFileHandle;
    }
    return NewFile(FileObject{fd, false, 0, info.st_size, static_cast<uint64_t>(info.st_dev),
                              static_cast<uint64_t>(info.st_ino), false});
}

}  // namespace

FileHandle FileOpen(const char* path, OpenMode mode) {
    if (mode == OpenMode::ReadWrite && seamBeforeWritableOpen != nullptr) seamBeforeWritableOpen(path);
    const int access = mode == OpenMode::ReadWrite ? O_RDWR : O_RDONLY;
    // Never follow a symbolic link and never block on a FIFO or device: only
    // regular files are scanned.
    const int fd = open(path, access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    return fd < 0 ? InvalidFileHandle : AdoptChecked(fd, mode, 0, 0);
}

FileHandle FileOpenAt(int folder, const char* name, OpenMode mode, uint64_t device, uint64_t inode) {
    if (mode == OpenMode::ReadWrite && seamBeforeWritableOpen != nullptr) seamBeforeWritableOpen(name);
    const int access = mode == OpenMode::ReadWrite ? O_RDWR : O_RDONLY;
    const int refused = seamOpenError != nullptr ? seamOpenError(name) : 0;
    if (refused != 0) {
        errno = refused;
        return InvalidFileHandle;
    }
    const int fd = openat(folder, name, access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return InvalidFileHandle;
    if (mode == OpenMode::Read && inode == 0) {
        // The first, read-only open of an entry listed as a regular file:
        // most files are only read and found clean, and then what the name
        // held needs no status call. Reads are positioned, which a FIFO or a
        // terminal refuses, so nothing is consumed should the name have been
        // swapped for one; FileIdentity asks before anything acts on it.
        return NewFile(FileObject{fd, false, 0, -1, 0, 0, true});
    }
    return AdoptChecked(fd, mode, device, inode);
}

bool FileIdentity(FileHandle file, uint64_t* device, uint64_t* inode) {
    *device = 0;
    *inode = 0;
    if (file == InvalidFileHandle) return false;
    if (file->statusPending) {
        struct stat info {};
        if (fstat(file->fd, &info) != 0 || !S_ISREG(info.st_mode)) return false;
        file->statusPending = false;
        file->device = static_cast<uint64_t>(info.st_dev);
        file->inode = static_cast<uint64_t>(info.st_ino);
    }
    *device = file->device;
    *inode = file->inode;
    return true;
}

FileHandle FileAdopt(int fd) { return fd < 0 ? InvalidFileHandle : AdoptChecked(fd, OpenMode::Read, 0, 0); }

FileHandle FileCreate(const char* path) {
    const int fd = open(path, O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
    if (fd < 0) return InvalidFileHandle;
    return NewFile(FileObject{fd, false, 0, 0, 0, 0, false});
}

bool FileFlush(FileHandle file) {
    if (file == InvalidFileHandle || SeamFailsFlush() || fsync(file->fd) != 0) return false;
    if (seamFlushed != nullptr) seamFlushed();
    return true;
}

int FileClose(FileHandle file) {
    if (file == InvalidFileHandle) return 0;
    // Closing releases the lock of a read/write handle.
    const int rc = close(file->fd);
    fileObjects.Delete(file);
    return rc == 0 ? 1 : 0;
}

uint32_t FileRead(FileHandle file, void* buffer, uint32_t count) {
    if (file == InvalidFileHandle || file->seekFailed) return 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    // A regular file may deliver fewer bytes than asked before its end;
    // keep reading so that a short count means end of file or failure.
    while (done < count) {
        const ssize_t n = pread(file->fd, bytes + done, count - done, static_cast<off_t>(file->position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<uint32_t>(n);
    }
    file->position += done;
    return done;
}

uint32_t FileReadOnce(FileHandle file, void* buffer, uint32_t count) {
    if (file == InvalidFileHandle || file->seekFailed) return 0;
    ssize_t n = 0;
    do {
        n = pread(file->fd, buffer, count, static_cast<off_t>(file->position));
    } while (n < 0 && errno == EINTR);
    if (n <= 0) return 0;
    file->position += n;
    return static_cast<uint32_t>(n);
}

uint32_t FileWrite(FileHandle file, const void* buffer, uint32_t count) {
    if (file == InvalidFileHandle || file->seekFailed || SeamFailsWrite()) return 0;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = pwrite(file->fd, bytes + done, count - done, static_cast<off_t>(file->position + done));
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<uint32_t>(n);
    }
    if (seamWritten != nullptr && done != 0) seamWritten(file->position, buffer, done);
    file->position += done;
    return done;
}

void FileSeek(FileHandle file, int32_t distance, SeekOrigin origin) {
    if (file == InvalidFileHandle) return;
    int64_t base = 0;
    switch (origin) {
        case SeekOrigin::Begin: base = 0; break;
        case SeekOrigin::Current: base = file->position; break;
        case SeekOrigin::End: {
            struct stat info {};
            if (fstat(file->fd, &info) != 0) {
                file->seekFailed = true;
                return;
            }
            base = info.st_size;
            break;
        }
        default: file->seekFailed = true; return;  // unknown origins fail as on Win32
    }
    // Positions are signed 32-bit; one that cannot be expressed is a failure
    // and, as with a failed system seek, leaves the position where it was.
    const int64_t position = base + distance;
    file->seekFailed = position < 0 || position > static_cast<int64_t>(LargestFilePosition);
    if (!file->seekFailed) file->position = position;
}

bool FileGetSize(FileHandle file, uint32_t* size) {
    if (file == InvalidFileHandle) return false;
    struct stat info {};
    if (fstat(file->fd, &info) != 0 || info.st_size < 0 || info.st_size > static_cast<off_t>(LargestFilePosition)) {
        return false;
    }
    *size = static_cast<uint32_t>(info.st_size);
    return true;
}

bool FileSizeAtOpen(FileHandle file, uint32_t* size) {
    if (file == InvalidFileHandle || file->sizeAtOpen < 0 ||
        file->sizeAtOpen > static_cast<int64_t>(LargestFilePosition)) {
        return false;
    }
    *size = static_cast<uint32_t>(file->sizeAtOpen);
    return true;
}
