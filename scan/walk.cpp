#include <cstring>

#include "scan/front_end.h"
#include "scan/fs.h"
#include "scan/handle_file.h"
#include "scan/walk.h"
#include "scan/texts.h"
#include "scan/scan_state.h"

namespace {

// Appends text at the end of CurrentObjectPath if the whole of it and the
// terminator fit; otherwise leaves the buffer as it was.
bool AppendToObjectPath(const char* text) {
    const size_t used = std::strlen(CurrentObjectPath);
    const size_t extra = std::strlen(text);
    if (extra >= ObjectPathSize - used) return false;
    std::memcpy(CurrentObjectPath + used, text, extra + 1);
    return true;
}

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

void VisitEntry(const DirEntry& entry, size_t saved) {
    const size_t length = std::strlen(entry.name);
    if (length >= ObjectPathSize - saved) {
        // The whole path would not fit the buffer: say so under the folder
        // rather than write past it or examine a truncated name.
        CurrentObjectPath[saved] = '\0';
        AddResultRow(CurrentObjectPath, PathTooLongText);
        return;
    }
    std::memcpy(CurrentObjectPath + saved, entry.name, length + 1);
    if (!entry.isDirectory) {
        HandleFile();
    } else if (!IsDotEntry(entry.name)) {
        WalkFolder();
    }
}

}  // namespace

void WalkFolder() {
    ScanStatistics.folders += 1;
    const size_t length = std::strlen(CurrentObjectPath);
    const char separator[2] = {PathSeparator, '\0'};
    const bool hasSeparator = length > 0 && CurrentObjectPath[length - 1] == PathSeparator;
    // A folder whose path cannot take its separator cannot be listed either.
    const bool listable = hasSeparator || AppendToObjectPath(separator);
    const size_t saved = std::strlen(CurrentObjectPath);
    ShowObject(CurrentObjectPath);
    if (!StillScanning()) return;

    DirEntry entry;
    DirSearch* search = listable && AppendToObjectPath("*.*") ? FindFirstEntry(CurrentObjectPath, &entry) : nullptr;
    if (search != nullptr) {
        do {
            VisitEntry(entry, saved);
        } while (FindNextEntry(search, &entry) && StillScanning());
        FindCloseSearch(search);
    }
    CurrentObjectPath[saved] = '\0';
    // Passed over in silence for the dialog; a front end that wants to know
    // is told right after the failed listing, its error code intact.
    if (search == nullptr && listable && noteUnlistedFolder != nullptr) noteUnlistedFolder(CurrentObjectPath);
    ShowObject(CurrentObjectPath);
}

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
        // The stop flag is not looked at here: WalkFolder counts and shows
        // every remaining drive and returns at once.
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
