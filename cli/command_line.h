// The program's arguments as the rest of the program reads them: text of the
// kind it carries paths as. On the NT family that is the wide command line
// as WTF-8 (platform/wtf8.h), so that a name outside the code page arrives
// whole; on the 95/98/Me family and on POSIX, main's own arguments.
#pragma once

#include <string>
#include <vector>

struct CommandLine {
    std::vector<std::string> texts;  // the converted arguments, when any
    std::vector<char*> arguments;    // as main's argv: count, then a null
    int count = 0;
};

// Fills *line from main's arguments or from the system's wide command line.
// *line must outlive every use of its arguments, which point into it.
void ReadCommandLine(int argc, char** argv, CommandLine* line);
