// Names of archive entries as UTF-8 text for an item: converted from the
// code page the archive used, cut to ItemTextBound bytes at a character
// boundary, and joined to the names of the entries that lead to them.
// Names are data: nothing here looks at separators, "..", or drive letters.
#pragma once

#include <cstdint>

#include "containers/contained.h"

struct EntryText {
    char text[ItemTextBound + 1] = {};
    uint32_t length = 0;
    bool full = false;  // a character did not fit: nothing more is appended
};

// Bytes taken from a name: enough for ItemTextBound bytes of text in any
// encoding, since no character becomes fewer bytes.
constexpr uint32_t RawNameBound = ItemTextBound;

// A byte that cannot be shown as it is (an invalid sequence, or a NUL, which
// would end the text early) becomes U+FFFD.
void AppendUtf8Name(EntryText* text, const uint8_t* raw, uint32_t length);
// The code page of DOS, in which ZIP and RAR 4 keep names not marked UTF-8.
void AppendCp437Name(EntryText* text, const uint8_t* raw, uint32_t length);
void AppendText(EntryText* text, const char* ascii);
