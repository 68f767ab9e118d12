// Runs the start-up sweep in a process of its own, the way the dialog does,
// so that tests can watch what the sweep does to the program that runs it.
// Boxes are counted instead of shown (nobody could dismiss them); the exit
// status is 100 plus their number, or 1 when the sweep terminated it.
#include <windows.h>

#include "platform/seams.h"
#include "resident/resident_sweep.h"
#include "resident/sweep_messages.h"

namespace {

int boxes = 0;

int WINAPI CountBox(HWND, LPCSTR, LPCSTR, UINT) {
    ++boxes;
    return IDOK;
}

}  // namespace

int main() {
    seamMessageBox = CountBox;
    ResidentSweep();
    return 100 + boxes;
}
