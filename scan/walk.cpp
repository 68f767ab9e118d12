#include "scan/walk.h"

#include <cstring>

#include "scan/front_end.h"
#include "scan/read_ahead.h"
#include "scan/scan_state.h"
#include "scan/step.h"
#include "scan/tree_walk.h"

// The one loop over a tree, for the dialog's walk and the command line's.
void WalkFolder(const HandledEntry& start) {
    OpenTree(start, treeLimits);
    if (scanReaders > 1 && WalkWithReaders(scanReaders)) return;
    TreeStep step;
    while (NextStep(&step)) {
        TakeStep(&step, false);
        if (!StillScanning()) StopTree();
    }
}

void WalkFolder() { WalkFolder(EntryForPath(CurrentObjectPath)); }

// keepScanning is set by the front end before the run starts, never here:
// a stop confirmed while the run was starting must not be undone.
void ScanSingleFolder(const char* path) {
    const size_t length = std::strlen(path);
    ResetScanStatistics();
    if (length >= ObjectPathSize) {
        // Too long for the path buffer: counted like a folder that cannot
        // be listed.
        ScanStatistics.folders += 1;
        return;
    }
    std::memcpy(CurrentObjectPath, path, length + 1);
    WalkFolder();
}

void ScanAllFixedDrives() {
    ResetScanStatistics();
    const uint32_t drives = LogicalDriveMask();
    for (uint32_t i = 0; i < 26; ++i) {
        if ((drives & (1u << i)) == 0) continue;
        std::memcpy(CurrentObjectPath, "@:\\", 4);
        CurrentObjectPath[0] = static_cast<char>('A' + i);
        // The stop flag is not looked at here: a walk after a stop counts
        // and shows its drive and ends at once.
        if (IsFixedDrive(CurrentObjectPath)) WalkFolder();
    }
}

void StopScan() { keepScanning.store(0, std::memory_order_relaxed); }

uint32_t ScanWorker(void*) {
    if (SelectedFolder[0] != '\0') {
        ScanSingleFolder(SelectedFolder);
    } else {
        ScanAllFixedDrives();
    }
    ShowObject(SelectedFolder);
    ReportResults();
    return 0;
}
