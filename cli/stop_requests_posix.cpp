#include <signal.h>

#include <atomic>
#include <cstdint>

#include "cli/stop_requests.h"
#include "scan/scan_state.h"

namespace {

// A lock-free store is all a signal handler may do with it.
static_assert(std::atomic<int32_t>::is_always_lock_free, "keepScanning must be safe to clear from a signal handler");

extern "C" void OnStopSignal(int) { keepScanning.store(0, std::memory_order_relaxed); }

void Catch(int signal, bool keepIgnored) {
    struct sigaction old {};
    // A signal ignored on entry stays ignored: nohup, or a background job
    // that the terminal's interrupt is not meant for.
    if (keepIgnored && sigaction(signal, nullptr, &old) == 0 && old.sa_handler == SIG_IGN) return;
    struct sigaction action {};
    action.sa_handler = OnStopSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(signal, &action, nullptr);
}

}  // namespace

void InstallStopRequests() {
    Catch(SIGINT, true);
    Catch(SIGHUP, true);
    Catch(SIGTERM, false);
    // A reader that goes away shows as a failed write, which stops the scan
    // in order; the default action would end it in the middle of a file.
    struct sigaction ignore {};
    ignore.sa_handler = SIG_IGN;
    sigemptyset(&ignore.sa_mask);
    sigaction(SIGPIPE, &ignore, nullptr);
}

void ScanFinished() {}
