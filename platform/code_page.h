// Windows 95, 98 and Me show text in the ANSI code page. What the program
// writes for its user is UTF-8: its own texts are ASCII, while names and
// subjects read inside mail and archives may hold any character.
#pragma once

#include <cstddef>

// text[0, length), read as UTF-8 (leniently: a faulty sequence is one
// character the code page lacks), into out in the code page, terminated;
// each character the code page lacks becomes '?'. out has room for at least
// 2 * length + 1 bytes, which a double-byte code page may need. False, with
// out untouched, when the system could not convert.
bool ToCodePage(const char* text, size_t length, char* out, size_t room);
