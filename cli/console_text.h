// How the command line's text reaches standard output and standard error.
// The program's text is what it carries paths as: WTF-8 on the NT family
// (platform/wtf8.h), the code page's bytes on the 95/98/Me family, plain
// bytes on POSIX. On the NT family a console is given that text as UTF-16
// (WriteConsoleW), so that every name shows as it is whatever the console's
// code page; a file or a pipe gets the bytes unchanged, which is UTF-8 there.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>

// Writes text[0, length) to stream (stdout or stderr) and flushes it, so
// that the lines of the two streams keep their order and a failed write is
// noticed at once. False when anything could not be written; errno then
// says why.
bool WriteText(std::FILE* stream, const char* text, size_t length);

inline bool WriteText(std::FILE* stream, const std::string& text) {
    return WriteText(stream, text.data(), text.size());
}

// Appends a row's status as the streams take it. A status is UTF-8 (the
// scan's own texts are ASCII; names and subjects read inside mail and
// archives are not): on the 95/98/Me family it goes in the code page, each
// character the code page lacks as '?'; elsewhere as it is.
void AppendStatus(std::string* row, const char* status);

// Where a piece of at most limit units of units[0, count) may end without
// parting a surrogate pair, which a console would show as two faulty
// characters: limit, or one less when that would split a pair (never 0 while
// limit is not). The whole when it fits; limit is at least 1.
template <typename Unit>
size_t ConsolePieceEnd(const Unit* units, size_t count, size_t limit) {
    if (count <= limit) return count;
    const auto last = static_cast<uint16_t>(units[limit - 1]);
    const auto next = static_cast<uint16_t>(units[limit]);
    const bool splitsPair = limit > 1 && last >= 0xD800 && last <= 0xDBFF && next >= 0xDC00 && next <= 0xDFFF;
    return splitsPair ? limit - 1 : limit;
}

// Where to start showing the last room bytes of text[0, length) (a path that
// does not fit on the progress line) so that the shown part begins with a
// whole UTF-8 character: past at most three continuation bytes.
inline size_t ShownTailStart(const char* text, size_t length, size_t room) {
    if (length <= room) return 0;
    size_t start = length - room;
    for (int skipped = 0; skipped < 3 && start < length && (static_cast<unsigned char>(text[start]) & 0xC0) == 0x80;
         ++skipped) {
        ++start;
    }
    return start;
}
