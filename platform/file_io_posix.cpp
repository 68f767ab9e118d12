// POSIX file primitives: the same contract as the Win32 ones, for the
// native build (tests, fuzzing, the command-line scanner on Linux).
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <new>

#include "engine/file_io.h"

struct FileObject {
    int fd;
    bool seekFailed;
};

FileHandle FileOpen(const char* path, int mode) {
    const int access = (mode & 1) ? O_RDWR : O_RDONLY;
    // Never follow a symbolic link and never block on a FIFO or device: only
    // regular files are scanned.
    const int fd = open(path, access | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd < 0) return InvalidFileHandle;
    struct stat info {};
    if (fstat(fd, &info) != 0 || !S_ISREG(info.st_mode)) {
        close(fd);
        return InvalidFileHandle;
    }
    auto* file = new (std::nothrow) FileObject{fd, false};
    if (file == nullptr) close(fd);
    return file;
}

int FileClose(FileHandle file) {
    if (file == InvalidFileHandle) return 0;
    const int rc = close(file->fd);
    delete file;
    return rc == 0 ? 1 : 0;
}

uint32_t FileRead(FileHandle file, void* buffer, uint32_t count) {
    if (file == InvalidFileHandle || file->seekFailed) return 0;
    auto* bytes = static_cast<unsigned char*>(buffer);
    uint32_t done = 0;
    // A regular file may deliver fewer bytes than asked before its end;
    // keep reading so that a short count means end of file or failure.
    while (done < count) {
        const ssize_t n = read(file->fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

uint32_t FileWrite(FileHandle file, const void* buffer, uint32_t count) {
    if (file == InvalidFileHandle || file->seekFailed) return 0;
    const auto* bytes = static_cast<const unsigned char*>(buffer);
    uint32_t done = 0;
    while (done < count) {
        const ssize_t n = write(file->fd, bytes + done, count - done);
        if (n < 0 && errno == EINTR) continue;
        if (n <= 0) break;
        done += static_cast<uint32_t>(n);
    }
    return done;
}

void FileSeek(FileHandle file, int32_t distance, int origin) {
    if (file == InvalidFileHandle) return;
    int whence = 0;
    switch (origin) {
        case 0: whence = SEEK_SET; break;
        case 1: whence = SEEK_CUR; break;
        case 2: whence = SEEK_END; break;
        default: file->seekFailed = true; return;  // unknown origins fail as on Win32
    }
    const off_t position = lseek(file->fd, static_cast<off_t>(distance), whence);
    // Positions are signed 32-bit; one that cannot be expressed is a failure.
    file->seekFailed = position < 0 || position > static_cast<off_t>(INT32_MAX);
}

bool FileGetSize(FileHandle file, uint32_t* size) {
    if (file == InvalidFileHandle) return false;
    struct stat info {};
    if (fstat(file->fd, &info) != 0 || info.st_size < 0 || info.st_size > static_cast<off_t>(INT32_MAX)) return false;
    *size = static_cast<uint32_t>(info.st_size);
    return true;
}
