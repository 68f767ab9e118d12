// A harmless stand-in for a running program: it holds each named file open
// as Windows holds a running image, reading allowed to anyone, writing and
// deletion to no one, until the test ends it. Copied to a threat's name and
// given no file, it is the process that the start-up sweep must end.
//   velmora-hold-open READY_FILE [PATH...]
// READY_FILE is created once every file is held, so the test knows when to
// go on without guessing; the program exits 1 at once if a file cannot be
// opened. It ends by itself after a few minutes, so it never outlives a run.
#include <windows.h>

#include <cstdio>

int main(int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: velmora-hold-open READY_FILE [PATH...]\n");
        return 2;
    }
    for (int i = 2; i < argc; ++i) {
        HANDLE file = CreateFileA(argv[i], GENERIC_READ, FILE_SHARE_READ, nullptr, OPEN_EXISTING, 0, nullptr);
        if (file == INVALID_HANDLE_VALUE) {
            std::fprintf(stderr, "velmora-hold-open: cannot open %s (%lu)\n", argv[i], GetLastError());
            return 1;
        }
        // Never closed: the handles live as long as the process.
    }
    HANDLE ready = CreateFileA(argv[1], GENERIC_WRITE, 0, nullptr, CREATE_ALWAYS, 0, nullptr);
    if (ready == INVALID_HANDLE_VALUE) return 1;
    CloseHandle(ready);
    for (int second = 0; second < 600; ++second) Sleep(1000);
    return 0;
}
