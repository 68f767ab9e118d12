// The restart-time operations that Windows holds, read from where the system
// itself reads them as it starts: on the NT family the pairs of NT paths
// (\??\C:\...) of PendingFileRenameOperations, on the 95/98/Me family the
// "target=source" lines of the [rename] section of wininit.ini. The scan
// reads back each request it made before it reports a cure or a deletion at
// the restart; the restore reads them to tell whether a restart will still
// act on a file. Both must know when the operations cannot be read at all,
// so that neither takes an unreadable list for an empty one.
#pragma once

#include <cstddef>
#include <string>
#include <vector>

enum class PendingRead { Read, Unreadable };

// One NT operation: from is moved onto to, or deleted when to is empty.
// Both are comparable names (ComparableName).
struct PendingMove {
    std::wstring from;
    std::wstring to;
};

// Appends the operations of both values the NT family keeps. A value that
// is not there holds none; anything else that keeps a value from being
// read (the key, its type, its size) makes the whole list Unreadable, with
// the system's reason in *error.
PendingRead ReadPendingMoves(std::vector<PendingMove>* moves, int* error);

// The NT family's operations as a REG_MULTI_SZ value holds them: strings in
// pairs, a deletion's target empty, the list ended by one more empty string.
// units counts the UTF-16 units of the value's data.
void ParsePendingMoves(const wchar_t* data, size_t units, std::vector<PendingMove>* moves);

// The part of a path that the NT form, the verbatim form and a plain path
// share: the \??\ or \\?\ prefix goes (the UNC forms become \\server) and
// ASCII letters are upper case, since names are compared ignoring case.
std::wstring ComparableName(const wchar_t* path, size_t length);

// One line of wininit.ini's [rename] section, both sides upper case, as
// written (WININIT.EXE reads short paths; an older entry may hold long ones).
struct WininitRename {
    std::string target;
    std::string source;
};

// Appends the [rename] lines. A wininit.ini that is not there holds none;
// one that is there but cannot be read, or holds more than the profile
// functions return, is Unreadable, with the system's reason in *error.
PendingRead ReadWininitRenames(std::vector<WininitRename>* renames, int* error);

std::string UpperAscii(std::string text);

// Tests: called once the system has accepted a restart-time request and
// before it is read back, so that a test can drop it as a system that loses
// a request would.
extern void (*seamRequestAccepted)();
