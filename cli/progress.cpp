#include "cli/progress.h"

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "cli/console_text.h"
#include "cli/row_text.h"
#include "cli/texts.h"
#include "platform/family.h"
#include "scan/scan_state.h"

#ifdef _WIN32
#include <io.h>
#include <windows.h>
#else
#include <time.h>
#include <unistd.h>
#endif

namespace {

constexpr uint32_t RedrawMilliseconds = 250;
// Kept below the width of a classic console, so that the line never wraps
// and "\r" always returns to its start.
constexpr size_t LineWidth = 79;

bool enabled = false;
uint32_t startTime = 0;
uint32_t lastDraw = 0;
size_t shownLength = 0;  // of the line on the terminal, 0 when none
std::string folder;

uint32_t Milliseconds() {
#ifdef _WIN32
    return static_cast<uint32_t>(GetTickCount());
#else
    timespec now{};
    clock_gettime(CLOCK_MONOTONIC, &now);
    return static_cast<uint32_t>(static_cast<uint64_t>(now.tv_sec) * 1000u +
                                 static_cast<uint64_t>(now.tv_nsec) / 1000000u);
#endif
}

bool StandardErrorIsTerminal() {
#ifdef _WIN32
    return _isatty(2) != 0;
#else
    return isatty(STDERR_FILENO) != 0;
#endif
}

// Blanks over the old line rather than a terminal control sequence, which
// old Windows consoles do not understand.
void Erase() {
    if (shownLength == 0) return;
    std::string blank = "\r";
    blank.append(shownLength, ' ').push_back('\r');
    WriteText(stderr, blank);
    shownLength = 0;
}

void Draw(uint32_t now) {
    lastDraw = now;
    const uint32_t elapsed = now - startTime;
    const int32_t files = ScanStatistics.files;
    const uint64_t rate = elapsed > 0 ? static_cast<uint64_t>(files) * 1000u / elapsed : 0;
    const int32_t found = ScanStatistics.infected + ScanStatistics.warnings + ScanStatistics.suspicious;
    char counts[128];
    std::snprintf(counts, sizeof counts, ProgressCountsFormat, static_cast<int>(files),
                  static_cast<int>(ScanStatistics.folders), static_cast<int>(found),
                  static_cast<unsigned long long>(rate));
    std::string line = counts;
    std::string shown;
    AppendShownText(&shown, folder.c_str());
    if (line.size() + shown.size() > LineWidth) {
        // The end of the folder's path says most about where the scan is.
        // Paths are UTF-8 (WTF-8 on the NT family, bytes that are mostly
        // UTF-8 on POSIX), so the cut falls between two characters and none
        // shows half; on the 95/98/Me family they are the code page's bytes.
        // The width is counted in bytes, which a character outside ASCII
        // never takes fewer of than columns.
        const size_t room = LineWidth > line.size() + 3 ? LineWidth - line.size() - 3 : 0;
        const size_t start = IsNtFamily() ? ShownTailStart(shown.data(), shown.size(), room) : shown.size() - room;
        shown = "..." + shown.substr(start);
    }
    line += shown;
    const size_t length = line.size();
    if (length < shownLength) line.append(shownLength - length, ' ');
    WriteText(stderr, "\r" + line);
    shownLength = length > shownLength ? length : shownLength;
}

}  // namespace

void ProgressStart(bool quiet) {
    enabled = !quiet && StandardErrorIsTerminal();
    startTime = Milliseconds();
    // The first folder is drawn at once, so that a scan shows its progress
    // however short it is.
    lastDraw = startTime - RedrawMilliseconds;
}

void ProgressFolder(const char* path) {
    if (!enabled) return;
    folder = path;
    ProgressTick();
}

void ProgressTick() {
    if (!enabled) return;
    const uint32_t now = Milliseconds();
    if (now - lastDraw >= RedrawMilliseconds) Draw(now);
}

void ProgressClear() {
    if (enabled) Erase();
}

void ProgressEnd() {
    if (enabled) Erase();
    enabled = false;
}
