// Windows: the walk lists folders with the platform's find functions and
// keeps two paths: the one shown in rows, which spells each name as the
// listing gave it, and the one that reaches the entry.
//
// On the NT family names are listed and reached as the system's UTF-16,
// carried as WTF-8: the code page's best fit would turn a name it cannot
// spell into "?" or into a look-alike, "．．＼x" into "..\x", and the scan
// would act on another file than the one it listed, even outside the chosen
// folder. The path that reaches an entry is the verbatim form (\\?\) of the
// starting folder's full path followed by the names as listed, so the
// system never reads a name again (a trailing dot or space, a device name),
// and paths run to the system's limit rather than MAX_PATH.
//
// The 95/98/Me family has only the code-page functions, which read a name
// again: an entry whose long name does not lead back to it (one the code
// page cannot spell, a trailing dot or space), or whose path would not fit
// MAX_PATH, is reached by its short name.
//
// On both, a listed name that is not one name of its folder (a separator, a
// colon, a wildcard, a control character, a third "." or "..") is never
// joined: its short name reaches it, or nothing does.
#include <windows.h>

#include <cstring>
#include <cwchar>

#include "adapters/system_path_win32.h"
#include "platform/listed_name.h"
#include "platform/text.h"
#include "platform/wtf8.h"
#include "scan/scan_state.h"
#include "scan/tree_walk.h"

namespace {

// All zeros is a level just entered, so that the levels need no code to be
// set up.
struct Level {
    HANDLE find;  // null until the folder is listed
    uint32_t shownLength;  // of the shown path, with the trailing separator
    uint32_t reachLength;  // of the reaching path, likewise
    uint32_t reachUnits;   // what the system counts of it: UTF-16 units, or bytes on 95/98/Me
    bool listed;
    bool firstWaiting;  // the listing's first entry is in the found data
    bool dotSeen;       // the listing's own "." and ".." entries were met
    bool dotDotSeen;
};

// What the system counts of a path, its terminating zero included. The
// verbatim form's limit on the NT family; MAX_PATH on 95/98/Me.
uint32_t PathLimit() { return IsNtFamily() ? static_cast<uint32_t>(SystemPathUnits) : MAX_PATH; }
// What a folder's listing pattern adds to its path: "*" or "*.*".
uint32_t PatternUnits() { return IsNtFamily() ? 1 : 3; }

// Each level adds at least a name and its separator to the reaching path,
// so the limit bounds the depth. Fixed arrays keep the dialog free of the
// heap and of the library's exception machinery that a vector would bring.
constexpr size_t MaxLevels = SystemPathUnits / 2 + 1;
Level levels[MaxLevels];
size_t depth = 0;
char shown[ObjectPathSize];
char reach[ObjectPathSize];
bool stopped = false;
TreeLimits limits;
bool startPending = false;
DWORD startError = 0;  // why the starting folder cannot be listed
// The entry in hand, from the family's find functions.
WIN32_FIND_DATAW foundWide;
WIN32_FIND_DATAA foundNarrow;
SystemPath pattern;

// The find functions end their names, but a name is never read past its
// field should one not be.
template <typename Unit>
size_t BoundedLength(const Unit* text, size_t room) {
    size_t length = 0;
    while (length < room && text[length] != 0) ++length;
    return length;
}

// A name as the carried text spells it, and what the system counts of it.
struct Name {
    const void* text;  // wchar_t on the NT family, char on 95/98/Me
    size_t length;
    size_t bytes;  // of its carried form
};

Name MakeName(const wchar_t* text, size_t room) {
    const size_t length = BoundedLength(text, room);
    return Name{text, length, Wtf8Size(text, length)};
}

Name MakeName(const char* text, size_t room) {
    const size_t length = BoundedLength(text, room);
    return Name{text, length, length};
}

size_t WriteName(const Name& name, char* out) {
    if (IsNtFamily()) return EncodeWtf8(static_cast<const wchar_t*>(name.text), name.length, out);
    std::memcpy(out, name.text, name.length);
    return name.length;
}

bool Joinable(const Name& name) {
    if (IsNtFamily()) return IsJoinableName(static_cast<const wchar_t*>(name.text), name.length);
    return IsJoinableName(static_cast<const char*>(name.text), name.length, [](uint32_t byte) {
        return IsDBCSLeadByteEx(CP_ACP, static_cast<BYTE>(byte)) != 0;
    });
}

bool IsDotName(const Name& name, size_t dots) {
    const bool wide = IsNtFamily();
    if (name.length != dots) return false;
    for (size_t i = 0; i < dots; ++i) {
        const uint32_t unit = wide ? static_cast<const wchar_t*>(name.text)[i]
                                   : static_cast<unsigned char>(static_cast<const char*>(name.text)[i]);
        if (unit != '.') return false;
    }
    return true;
}

// The entry in hand, from whichever family's data holds it.
struct Found {
    Name name;
    Name shortName;
    DWORD attributes;
};

Found CurrentEntry() {
    if (IsNtFamily()) {
        return Found{MakeName(foundWide.cFileName, MAX_PATH), MakeName(foundWide.cAlternateFileName, 14),
                     foundWide.dwFileAttributes};
    }
    return Found{MakeName(foundNarrow.cFileName, MAX_PATH), MakeName(foundNarrow.cAlternateFileName, 14),
                 foundNarrow.dwFileAttributes};
}

// path holds a subfolder's path: is it the one to pass over? Compared by
// identity where the system can tell it, otherwise by the shown path as the
// front end gave it, ignoring case.
bool Skipped() {
    uint64_t device = 0;
    uint64_t inode = 0;
    if (limits.skipFolder) {
        return FolderIdentity(reach, &device, &inode) && device == limits.skipDevice && inode == limits.skipInode;
    }
    const char* given = limits.skipPath;
    if (given == nullptr) return false;
    const size_t length = std::strlen(given);
    const size_t own = std::strlen(shown);
    if (length == own) return EqualsIgnoringCase(shown, given);
    return length == own + 1 && given[own] == PathSeparator && StartsWithIgnoringCase(given, shown);
}

void AppendSeparator(char* path, uint32_t* length) {
    if (*length == 0 || path[*length - 1] != PathSeparator) {
        path[(*length)++] = PathSeparator;
        path[*length] = '\0';
    }
}

// A level for the folder whose paths the buffers hold; they take their
// separators (there is room: whoever filled them saw to it).
void Enter(uint32_t reachUnits) {
    Level level{};
    level.shownLength = static_cast<uint32_t>(std::strlen(shown));
    level.reachLength = static_cast<uint32_t>(std::strlen(reach));
    const uint32_t before = level.reachLength;
    AppendSeparator(shown, &level.shownLength);
    AppendSeparator(reach, &level.reachLength);
    level.reachUnits = reachUnits + (level.reachLength - before);
    if (depth < MaxLevels) levels[depth++] = level;
}

void CloseLevel(Level* level) {
    if (level->find != nullptr) FindClose(level->find);
    level->find = nullptr;
}

// Lists the innermost folder; true when that gives a step of its own.
bool List(Level* level, TreeStep* step) {
    level->listed = true;
    HANDLE find = INVALID_HANDLE_VALUE;
    DWORD error = startError;
    if (error == 0 && IsNtFamily()) {
        // The reaching path is verbatim already: the pattern is that path
        // and "*", not read again.
        if (ToSystemPath(reach, &pattern) && pattern.length + 1 < SystemPathUnits) {
            pattern.text[pattern.length] = L'*';
            pattern.text[pattern.length + 1] = L'\0';
            find = FindFirstFileW(pattern.text, &foundWide);
        }
        error = find == INVALID_HANDLE_VALUE ? GetLastError() : 0;
    } else if (error == 0) {
        char narrow[MAX_PATH + 4];
        if (level->reachLength + 4 <= sizeof narrow) {
            std::memcpy(narrow, reach, level->reachLength);
            std::memcpy(narrow + level->reachLength, "*.*", 4);
            find = FindFirstFileA(narrow, &foundNarrow);
            error = find == INVALID_HANDLE_VALUE ? GetLastError() : 0;
        } else {
            error = ERROR_FILENAME_EXCED_RANGE;
        }
    }
    startError = 0;
    if (find != INVALID_HANDLE_VALUE) {
        level->find = find;
        level->firstWaiting = true;
        return false;
    }
    step->event = TreeEvent::FolderProblem;
    step->problem = FolderProblem::Unlisted;
    step->error = static_cast<int>(error);
    return true;
}

bool FindNext(Level* level) {
    if (IsNtFamily()) return FindNextFileW(level->find, &foundWide) != 0;
    return FindNextFileA(level->find, &foundNarrow) != 0;
}

// Whether the entry's long name, given back to the system, leads to that
// very entry. Always on the NT family, whose wide functions take a name as
// listed (and the verbatim form reads nothing again), and for a plain 8.3
// name, which is its own short name. The code-page functions of the
// 95/98/Me family read a long name again: what the code page cannot spell
// comes back as "?" or as a look-alike ("ｗｏｒｍ.exe" as "worm.exe"), and
// a trailing dot or space is dropped, so the name may lead to another file
// or to none. There the long name serves only if looking it up finds the
// entry with the same short name.
bool LongNameLeadsHere(const Level& level, const Found& entry) {
    if (IsNtFamily() || entry.shortName.length == 0) return true;
    char path[MAX_PATH];
    if (level.reachLength + entry.name.length >= sizeof path) return false;
    std::memcpy(path, reach, level.reachLength);
    std::memcpy(path + level.reachLength, entry.name.text, entry.name.length);
    path[level.reachLength + entry.name.length] = '\0';
    WIN32_FIND_DATAA same;
    HANDLE find = FindFirstFileA(path, &same);
    if (find == INVALID_HANDLE_VALUE) return false;
    FindClose(find);
    same.cAlternateFileName[sizeof same.cAlternateFileName - 1] = '\0';
    return std::strcmp(same.cAlternateFileName, static_cast<const char*>(entry.shortName.text)) == 0;
}

// The name that reaches the entry, when it is one name of the folder, leads
// to this entry and the path fits; null when none does. room is what the
// system allows the entry's name. The listed name comes first, its short
// name when the listed one cannot serve.
const Name* Reaching(const Level& level, const Found& entry, size_t room, size_t bytesRoom, bool* tooLong) {
    *tooLong = false;
    const Name* choices[2] = {&entry.name, &entry.shortName};
    for (const Name* name : choices) {
        if (!Joinable(*name)) continue;
        if (name->length >= room || name->bytes >= bytesRoom) {
            *tooLong = true;
            continue;
        }
        if (name == &entry.name && !LongNameLeadsHere(level, entry)) continue;
        return name;
    }
    return nullptr;
}

// Handles the listing's entry in hand; true when it gives a step.
bool TakeEntry(Level& level, TreeStep* step) {
    const Found entry = CurrentEntry();
    const bool folder = (entry.attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
    // The listing's own entries for the folder and its parent, once each.
    if (folder && IsDotName(entry.name, 1) && !level.dotSeen) {
        level.dotSeen = true;
        return false;
    }
    if (folder && IsDotName(entry.name, 2) && !level.dotDotSeen) {
        level.dotDotSeen = true;
        return false;
    }

    // A folder keeps room for its separator and its listing's pattern.
    const uint32_t limit = PathLimit();
    const uint32_t extra = folder ? 1 + PatternUnits() : 0;
    const size_t room = level.reachUnits + extra < limit ? limit - level.reachUnits - extra : 0;
    const size_t bytesRoom = ObjectPathSize - 2 - level.reachLength;
    bool tooLong = false;
    const Name* reaching = Reaching(level, entry, room, bytesRoom, &tooLong);
    if (entry.name.bytes + 2 >= ObjectPathSize - level.shownLength || (reaching == nullptr && tooLong)) {
        // Said under the folder rather than examined under a cut name.
        step->event = TreeEvent::PathTooLong;
        return true;
    }
    shown[level.shownLength + WriteName(entry.name, shown + level.shownLength)] = '\0';

    if (reaching == nullptr) {
        // No name of its own reaches it: it cannot be opened, nor listed.
        if (!folder) {
            step->event = TreeEvent::File;
            step->entry.name = nullptr;
            return true;
        }
        uint32_t length = static_cast<uint32_t>(std::strlen(shown));
        AppendSeparator(shown, &length);
        step->event = TreeEvent::FolderProblem;
        step->problem = FolderProblem::Unlisted;
        step->error = ERROR_INVALID_NAME;
        return true;
    }
    reach[level.reachLength + WriteName(*reaching, reach + level.reachLength)] = '\0';
    if (!folder) {
        step->event = TreeEvent::File;
        return true;
    }
    if (Skipped()) return false;
    if (limits.stayOnDevice && (entry.attributes & FILE_ATTRIBUTE_REPARSE_POINT) != 0) {
        uint32_t length = static_cast<uint32_t>(std::strlen(shown));
        AppendSeparator(shown, &length);
        step->event = TreeEvent::FolderProblem;
        step->problem = FolderProblem::OtherDevice;
        return true;
    }
    Enter(level.reachUnits + static_cast<uint32_t>(reaching->length));
    step->event = TreeEvent::EnterFolder;
    return true;
}

// The reaching path of the starting folder given as text; the system's error
// when there is none.
DWORD StartReach(const char* given, uint32_t* units) {
    const size_t length = std::strlen(given);
    if (length + 2 >= ObjectPathSize) return ERROR_FILENAME_EXCED_RANGE;
    std::memcpy(reach, given, length + 1);
    if (!IsNtFamily()) {
        *units = static_cast<uint32_t>(length);
        return length + 1 + PatternUnits() < MAX_PATH ? 0 : ERROR_FILENAME_EXCED_RANGE;
    }
    // With its separator, so that "C:" is the drive's root, as the shown
    // path says.
    uint32_t withSeparator = static_cast<uint32_t>(length);
    AppendSeparator(reach, &withSeparator);
    if (!ToVerbatimPath(reach, &pattern)) return GetLastError();
    if (pattern.length + 1 + PatternUnits() >= SystemPathUnits) return ERROR_FILENAME_EXCED_RANGE;
    reach[EncodeWtf8(pattern.text, pattern.length, reach)] = '\0';
    *units = static_cast<uint32_t>(pattern.length);
    return 0;
}

}  // namespace

void OpenTree(const HandledEntry& start, const TreeLimits& given) {
    limits = given;
    while (depth > 0) CloseLevel(&levels[--depth]);
    stopped = false;
    shown[0] = reach[0] = '\0';
    uint32_t units = 0;
    const size_t length = std::strlen(start.path);
    // Room for the separator and a name: a start that long is counted and
    // not listed.
    if (length + 2 >= ObjectPathSize) {
        startError = ERROR_FILENAME_EXCED_RANGE;
    } else {
        std::memcpy(shown, start.path, length + 1);
        startError = StartReach(start.name != nullptr ? start.name : start.path, &units);
    }
    Enter(units);
    startPending = true;
}

bool NextStep(TreeStep* step) {
    *step = TreeStep{};
    step->entry = EntryForPath(shown);
    step->entry.name = reach;
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
        shown[level.shownLength] = '\0';
        reach[level.reachLength] = '\0';
        if (!level.listed && !stopped) {
            if (List(&level, step)) return true;
            continue;
        }
        bool hasEntry = false;
        if (!stopped && level.find != nullptr) {
            hasEntry = level.firstWaiting || FindNext(&level);
            level.firstWaiting = false;
        }
        if (!hasEntry) {
            const bool announce = level.listed;
            CloseLevel(&level);
            depth -= 1;
            if (!announce) continue;
            step->event = TreeEvent::LeaveFolder;
            return true;
        }
        if (TakeEntry(level, step)) return true;
    }
}

void StopTree() { stopped = true; }
