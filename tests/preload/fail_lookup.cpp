// Preloaded into velmora-scan by the quarantine test (LD_PRELOAD): a lookup
// (fstatat) of the name given in VELMORA_FAIL_LOOKUP fails with EIO, as on a
// damaged disk, so that the test sees what the scanner makes of a lookup
// that fails for another reason than the name being absent. Every other
// call goes through.
#include <dlfcn.h>
#include <sys/stat.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>

extern "C" int fstatat(int folder, const char* path, struct stat* info, int flags) noexcept {
    using Real = int (*)(int, const char*, struct stat*, int);
    static const auto real = reinterpret_cast<Real>(dlsym(RTLD_NEXT, "fstatat"));
    const char* failing = std::getenv("VELMORA_FAIL_LOOKUP");
    if (failing != nullptr && std::strcmp(path, failing) == 0) {
        errno = EIO;
        return -1;
    }
    return real(folder, path, info, flags);
}
