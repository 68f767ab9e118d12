// LD_PRELOAD library for the benchmark: counts the calls to the C heap
// (which operator new also goes through) and writes the count to the file
// named by VELMORA_ALLOC_LOG when the program ends.
#include <cstddef>
#include <cstdio>
#include <cstdlib>

extern "C" {
void* __libc_malloc(size_t size);
void* __libc_calloc(size_t count, size_t size);
void* __libc_realloc(void* block, size_t size);
void __libc_free(void* block);
}

namespace {
unsigned long long allocations = 0;
}

extern "C" void* malloc(size_t size) {
    ++allocations;
    return __libc_malloc(size);
}

extern "C" void* calloc(size_t count, size_t size) {
    ++allocations;
    return __libc_calloc(count, size);
}

extern "C" void* realloc(void* block, size_t size) {
    ++allocations;
    return __libc_realloc(block, size);
}

extern "C" void free(void* block) { __libc_free(block); }

__attribute__((destructor)) static void WriteCount() {
    const char* path = std::getenv("VELMORA_ALLOC_LOG");
    if (path == nullptr) return;
    if (std::FILE* out = std::fopen(path, "w")) {
        std::fprintf(out, "%llu\n", allocations);
        std::fclose(out);
    }
}
