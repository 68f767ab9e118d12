// A harmless program for the resident sweep's tests: they copy it to names
// that carry a threat prefix, start it and watch the sweep end it.
//   idle_child [EVENT]   sets the named event once running, then idles.
// It ends by itself after a few minutes, so it never outlives a test run.
#include <windows.h>

int main(int argc, char** argv) {
    if (argc > 1) {
        HANDLE ready = OpenEventA(EVENT_MODIFY_STATE, FALSE, argv[1]);
        if (ready != nullptr) {
            SetEvent(ready);
            CloseHandle(ready);
        }
    }
    for (int second = 0; second < 300; ++second) Sleep(1000);
    return 0;
}
