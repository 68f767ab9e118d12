// Case-insensitive comparisons of names (file extensions, process, service
// and value names). Only ASCII letters are folded, whatever the locale, so
// the result never depends on the system's code page.
#pragma once

bool EqualsIgnoringCase(const char* a, const char* b);
// True when text begins with the whole of prefix; a shorter text never does.
bool StartsWithIgnoringCase(const char* text, const char* prefix);
