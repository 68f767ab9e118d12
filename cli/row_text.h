// How paths are written on the command line's outputs.
#pragma once

#include <string>

// Appends text with backslash, tab, newline, carriage return and every other
// control byte escaped (\\, \t, \n, \r, \xHH), so that a file's name can
// never break a row into two or add a column; other bytes pass unchanged.
void AppendEscaped(std::string* out, const char* text);
