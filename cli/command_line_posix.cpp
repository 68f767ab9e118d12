// POSIX: the arguments are bytes, as the names they give.
#include "cli/command_line.h"

void ReadCommandLine(int argc, char** argv, CommandLine* line) {
    line->texts.clear();
    line->arguments.assign(argv, argv + argc);
    line->arguments.push_back(nullptr);
    line->count = argc;
}
