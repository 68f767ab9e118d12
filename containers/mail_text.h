// Texts taken from mail headers (subjects, attachment names), as UTF-8 that
// is always valid and bounded: RFC 2047 encoded words, RFC 2231 extended
// parameter values and the few charsets of the mail of the time, converted.
#pragma once

#include <cstdint>

#include "containers/contained.h"
#include "containers/mail_bounds.h"

// A UTF-8 text of at most ItemTextBound bytes, NUL-terminated; it is cut at
// a character boundary and takes nothing more once a character did not fit.
struct MailText {
    char text[ItemTextBound + 1] = {};
    uint32_t size = 0;
    bool full = false;
};

void TextClear(MailText* out);
// A NUL becomes '?', so that the text ends where its terminator says.
void TextPutCodePoint(MailText* out, uint32_t codePoint);

enum class Charset {
    Raw,          // header bytes as they came: UTF-8 where valid, else windows-1252
    Utf8,
    Ascii,
    Latin1,       // iso-8859-1
    Latin9,       // iso-8859-15
    Windows1252,
    Other,        // its bytes kept where they are valid UTF-8, else '?' for each
};

Charset CharsetNamed(const uint8_t* name, uint32_t length);
void TextPutBytes(MailText* out, Charset charset, const uint8_t* bytes, uint32_t length);

// A header value with RFC 2047 encoded words (B and Q), blanks around it
// dropped, as are blanks between two encoded words; what lies outside the
// words is taken as Raw.
void TextPutHeader(MailText* out, const uint8_t* value, uint32_t length);

// The pieces of one RFC 2231 parameter value (name*=, name*0*=, name*1=,
// ...), gathered in order: extended pieces are percent-decoded, the first
// one's charset is kept.
struct ExtendedValue {
    uint8_t bytes[MailWordBound] = {};
    uint32_t size = 0;
    Charset charset = Charset::Raw;
    bool any = false;
};

void ExtendedAppend(ExtendedValue* value, const uint8_t* text, uint32_t length, bool extended, bool first);
void TextPutExtended(MailText* out, const ExtendedValue& value);
