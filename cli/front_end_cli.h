// The command line's front end (scan/front_end.h) lives in front_end_cli.cpp;
// the messages and the exit status's facts it shares with the rest of the
// program are those of cli/messages.h.
#pragma once

#include "cli/messages.h"
