// Windows: the walk lists folders with the platform's find functions, in a
// path buffer of the dialog's fixed size; an entry whose path would not fit
// it is reported instead of examined under a truncated name.
#include <windows.h>

#include <cstring>
#include <vector>

#include "scan/scan_state.h"
#include "scan/tree_walk.h"

namespace {

struct Level {
    HANDLE find = INVALID_HANDLE_VALUE;
    size_t pathLength = 0;  // with the trailing separator
    bool listed = false;
    bool listable = true;  // false when the path could not take its separator
    bool hasEntry = false;  // data holds an entry not yet visited
    WIN32_FIND_DATAA data{};
};

std::vector<Level> levels;
char path[ObjectPathSize];
bool stopped = false;
bool startPending = false;

bool IsDotEntry(const char* name) { return std::strcmp(name, ".") == 0 || std::strcmp(name, "..") == 0; }

// path holds the folder's path; it takes its separator if it fits.
void Enter() {
    size_t length = std::strlen(path);
    Level level;
    if (length == 0 || path[length - 1] != PathSeparator) {
        if (length + 1 < ObjectPathSize) {
            path[length++] = PathSeparator;
            path[length] = '\0';
        } else {
            level.listable = false;
        }
    }
    level.pathLength = length;
    levels.push_back(level);
}

void CloseLevel(Level* level) {
    if (level->find != INVALID_HANDLE_VALUE) FindClose(level->find);
    level->find = INVALID_HANDLE_VALUE;
}

// Lists the innermost folder; true when that gives a step of its own.
bool List(Level* level, TreeStep* step) {
    level->listed = true;
    if (!level->listable) return false;
    char pattern[ObjectPathSize + 4];
    std::memcpy(pattern, path, level->pathLength);
    std::memcpy(pattern + level->pathLength, "*.*", 4);
    level->find = FindFirstFileA(pattern, &level->data);
    if (level->find != INVALID_HANDLE_VALUE) {
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
    for (Level& level : levels) CloseLevel(&level);
    levels.clear();
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
    if (levels.empty()) return false;
    if (startPending) {
        // The starting folder is announced before it is listed.
        startPending = false;
        step->event = TreeEvent::EnterFolder;
        return true;
    }
    for (;;) {
        if (levels.empty()) return false;
        Level& level = levels.back();
        path[level.pathLength] = '\0';
        if (!level.listed && !stopped) {
            if (List(&level, step)) return true;
            continue;
        }
        if (stopped || !level.hasEntry) {
            const bool announce = level.listed;
            CloseLevel(&level);
            levels.pop_back();
            if (!announce) continue;
            step->event = TreeEvent::LeaveFolder;
            return true;
        }
        const WIN32_FIND_DATAA data = level.data;
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
        if (IsDotEntry(data.cFileName)) continue;
        Enter();
        step->event = TreeEvent::EnterFolder;
        return true;
    }
}

void StopTree() { stopped = true; }
