// Windows: the walk lists folders with the platform's find functions, in a
// path buffer of the dialog's fixed size; an entry whose path would not fit
// it is reported instead of examined under a truncated name.
#include <windows.h>

#include <cstring>

#include "platform/text.h"
#include "scan/scan_state.h"
#include "scan/tree_walk.h"

namespace {

// All zeros is a level just entered, so that the levels need no code to be
// set up.
struct Level {
    HANDLE find;  // null until the folder is listed
    size_t pathLength;  // with the trailing separator
    bool listed;
    bool unlistable;  // the path could not take its separator
    bool hasEntry;  // data holds an entry not yet visited
    WIN32_FIND_DATAA data;
};

// Each level adds at least a name and its separator to the path, so the
// buffer's size bounds the depth. A fixed array keeps the dialog free of the
// heap and of the library's exception machinery that a vector would bring.
constexpr size_t MaxLevels = ObjectPathSize / 2 + 1;
Level levels[MaxLevels];
size_t depth = 0;
char path[ObjectPathSize];
bool stopped = false;
bool startPending = false;

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// path holds a subfolder's path: is it the one to pass over?
bool Skipped() {
    uint64_t device = 0;
    uint64_t inode = 0;
    if (treeLimits.skipFolder) {
        return FolderIdentity(path, &device, &inode) && device == treeLimits.skipDevice && inode == treeLimits.skipInode;
    }
    if (treeLimits.skipPath == nullptr) return false;
    char given[ObjectPathSize];
    const size_t length = std::strlen(treeLimits.skipPath);
    if (length == 0 || length >= ObjectPathSize) return false;
    std::memcpy(given, treeLimits.skipPath, length + 1);
    if (given[length - 1] == PathSeparator) given[length - 1] = '\0';
    return EqualsIgnoringCase(path, given);
}

// path holds the folder's path; it takes its separator if it fits.
void Enter() {
    size_t length = std::strlen(path);
    Level level{};
    if (length == 0 || path[length - 1] != PathSeparator) {
        if (length + 1 < ObjectPathSize) {
            path[length++] = PathSeparator;
            path[length] = '\0';
        } else {
            level.unlistable = true;
        }
    }
    level.pathLength = length;
    if (depth < MaxLevels) levels[depth++] = level;
}

void CloseLevel(Level* level) {
    if (level->find != nullptr) FindClose(level->find);
    level->find = nullptr;
}

// Lists the innermost folder; true when that gives a step of its own.
bool List(Level* level, TreeStep* step) {
    level->listed = true;
    if (level->unlistable) return false;
    char pattern[ObjectPathSize + 4];
    std::memcpy(pattern, path, level->pathLength);
    std::memcpy(pattern + level->pathLength, "*.*", 4);
    HANDLE find = FindFirstFileA(pattern, &level->data);
    if (find != INVALID_HANDLE_VALUE) {
        level->find = find;
        level->hasEntry = true;
        return false;
    }
    step->event = TreeEvent::FolderProblem;
    step->problem = FolderProblem::Unlisted;
    step->error = static_cast<int>(GetLastError());
    return true;
}

}  // namespace

void OpenTree(const HandledEntry& start) {
    while (depth > 0) CloseLevel(&levels[--depth]);
    stopped = false;
    const size_t length = std::strlen(start.path);
    const size_t kept = length < ObjectPathSize ? length : ObjectPathSize - 1;
    std::memcpy(path, start.path, kept);
    path[kept] = '\0';
    Enter();
    startPending = true;
}

bool NextStep(TreeStep* step) {
    *step = TreeStep{};
    step->entry = EntryForPath(path);
    if (depth == 0) return false;
    if (startPending) {
        // The starting folder is announced before it is listed.
        startPending = false;
        step->event = TreeEvent::EnterFolder;
        return true;
    }
    for (;;) {
        if (depth == 0) return false;
        Level& level = levels[depth - 1];
        path[level.pathLength] = '\0';
        if (!level.listed && !stopped) {
            if (List(&level, step)) return true;
            continue;
        }
        if (stopped || !level.hasEntry) {
            const bool announce = level.listed;
            CloseLevel(&level);
            depth -= 1;
            if (!announce) continue;
            step->event = TreeEvent::LeaveFolder;
            return true;
        }
        WIN32_FIND_DATAA data = level.data;
        data.cFileName[sizeof data.cFileName - 1] = '\0';
        level.hasEntry = FindNextFileA(level.find, &level.data) != 0;
        const size_t length = std::strlen(data.cFileName);
        if (length >= ObjectPathSize - level.pathLength) {
            step->event = TreeEvent::PathTooLong;
            return true;
        }
        std::memcpy(path + level.pathLength, data.cFileName, length + 1);
        if ((data.dwFileAttributes & FILE_ATTRIBUTE_DIRECTORY) == 0) {
            step->event = TreeEvent::File;
            return true;
        }
        if (IsDotEntry(data.cFileName) || Skipped()) continue;
        if (treeLimits.stayOnDevice && (data.dwFileAttributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
            const size_t end = level.pathLength + length;
            if (end + 1 < ObjectPathSize) std::memcpy(path + end, "\\", 2);
            step->event = TreeEvent::FolderProblem;
            step->problem = FolderProblem::OtherDevice;
            return true;
        }
        Enter();
        step->event = TreeEvent::EnterFolder;
        return true;
    }
}

void StopTree() { stopped = true; }
