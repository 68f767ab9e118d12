#include <windows.h>

#include <atomic>
#include <cstdint>

#include "cli/stop_requests.h"
#include "scan/scan_state.h"

namespace {

std::atomic<int32_t> finished{0};

// Runs on a thread of its own. Ctrl+C and Ctrl+Break are answered at once;
// for a console that is closing, or a logoff or shutdown, the process ends
// when the handler returns, so it waits for the file in hand and the report
// (the system allows it a few seconds).
BOOL WINAPI OnConsoleEvent(DWORD event) {
    keepScanning.store(0, std::memory_order_relaxed);
    if (event == CTRL_C_EVENT || event == CTRL_BREAK_EVENT) return TRUE;
    while (finished.load() == 0) Sleep(50);
    return TRUE;
}

}  // namespace

void InstallStopRequests() { SetConsoleCtrlHandler(OnConsoleEvent, TRUE); }

void ScanFinished() { finished.store(1); }
