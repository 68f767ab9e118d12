// How paths are written on the command line's outputs.
#pragma once

#include <string>

// Whether a path must be escaped to stay within its row: when it holds a
// control byte (which could end the row or add a column), and on POSIX also
// when it holds a backslash, which is an ordinary character in a name there
// and would otherwise read as the start of an escape. On Windows the
// backslash is the separator and no name holds a control byte, so there only
// a path that begins with a backslash, which would read as the mark of an
// escaped row, needs it.
bool PathNeedsEscaping(const char* path);

// Appends a path as rows and messages carry it, as the checksum tools of
// coreutils do: as it is when it needs no escaping; otherwise a backslash
// first, then the path with backslash, tab, newline, carriage return and
// every other control byte escaped (\\, \t, \n, \r, \xHH). A reader undoes
// the escapes of exactly the rows that begin with a backslash.
void AppendRowPath(std::string* out, const char* path);

// Appends text for a person to read, not for a program to parse: control
// bytes escaped as in a row, so that they cannot move the cursor, and
// backslashes left as they are.
void AppendShownText(std::string* out, const char* text);

// Reads back a path that AppendRowPath wrote: as it is, or with the escapes
// undone when it begins with a backslash. False when the text holds a bare
// control byte or an escape AppendRowPath never writes (a NUL among them),
// as a damaged line would; *path is then unspecified.
bool UnescapeRowPath(const std::string& text, std::string* path);
