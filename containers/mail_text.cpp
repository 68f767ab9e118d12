#include "containers/mail_text.h"
#include "containers/ascii_case.h"

#include "containers/transfer_decode.h"

namespace {

// windows-1252 at 0x80..0x9F; the five bytes it leaves undefined keep
// their C1 code points, as Windows itself converts them.
constexpr uint16_t Windows1252High[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

uint32_t Windows1252(uint8_t byte) {
    return byte >= 0x80 && byte <= 0x9F ? Windows1252High[byte - 0x80] : byte;
}

// iso-8859-15 differs from iso-8859-1 in eight places.
uint32_t Latin9(uint8_t byte) {
    switch (byte) {
        case 0xA4: return 0x20AC;
        case 0xA6: return 0x0160;
        case 0xA8: return 0x0161;
        case 0xB4: return 0x017D;
        case 0xB8: return 0x017E;
        case 0xBC: return 0x0152;
        case 0xBD: return 0x0153;
        case 0xBE: return 0x0178;
        default: return byte;
    }
}

// The length of the well-formed UTF-8 sequence at p (no overlong forms,
// no surrogates, nothing past U+10FFFF), or 0.
uint32_t Utf8Sequence(const uint8_t* p, uint32_t left, uint32_t* codePoint) {
    const uint8_t b0 = p[0];
    if (b0 < 0x80) {
        *codePoint = b0;
        return 1;
    }
    uint32_t length = 0;
    uint32_t cp = 0;
    uint32_t lowest = 0;
    if (b0 >= 0xC2 && b0 <= 0xDF) {
        length = 2;
        cp = b0 & 0x1Fu;
        lowest = 0x80;
    } else if (b0 >= 0xE0 && b0 <= 0xEF) {
        length = 3;
        cp = b0 & 0x0Fu;
        lowest = 0x800;
    } else if (b0 >= 0xF0 && b0 <= 0xF4) {
        length = 4;
        cp = b0 & 0x07u;
        lowest = 0x10000;
    } else {
        return 0;
    }
    if (left < length) return 0;
    for (uint32_t i = 1; i < length; ++i) {
        if ((p[i] & 0xC0u) != 0x80u) return 0;
        cp = (cp << 6) | (p[i] & 0x3Fu);
    }
    if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return 0;
    *codePoint = cp;
    return length;
}

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Bytes of adjacent encoded words in one charset, converted together so
// that a character split between two words comes out whole.
struct WordRun {
    uint8_t bytes[MailWordBound];
    uint32_t size = 0;
    Charset charset = Charset::Raw;
};

void FlushRun(MailText* out, WordRun* run) {
    TextPutBytes(out, run->charset, run->bytes, run->size);
    run->size = 0;
}

// "=?charset?B|Q?text?=" at value[at]: true with its parts and its end.
struct EncodedWord {
    const uint8_t* charset;
    uint32_t charsetLength;
    uint8_t encoding;
    const uint8_t* text;
    uint32_t textLength;
    uint32_t end;
};

bool ParseEncodedWord(const uint8_t* value, uint32_t length, uint32_t at, EncodedWord* word) {
    if (length - at < 8 || value[at] != '=' || value[at + 1] != '?') return false;
    uint32_t i = at + 2;
    const uint32_t charsetStart = i;
    while (i < length && value[i] != '?' && !IsBlank(value[i]) && i - charsetStart < 64) ++i;
    if (i >= length || value[i] != '?' || i == charsetStart) return false;
    word->charset = value + charsetStart;
    word->charsetLength = i - charsetStart;
    // RFC 2231 lets a language follow the charset: "utf-8*es".
    for (uint32_t k = 0; k < word->charsetLength; ++k) {
        if (word->charset[k] == '*') word->charsetLength = k;
    }
    if (length - i < 5) return false;
    const uint8_t encoding = AsciiLower(value[i + 1]);
    if ((encoding != 'b' && encoding != 'q') || value[i + 2] != '?') return false;
    word->encoding = encoding;
    i += 3;
    const uint32_t textStart = i;
    while (i + 1 < length && !(value[i] == '?' && value[i + 1] == '=')) {
        if (IsBlank(value[i]) || i - textStart >= MailWordBound) return false;
        ++i;
    }
    if (i + 1 >= length) return false;
    word->text = value + textStart;
    word->textLength = i - textStart;
    word->end = i + 2;
    return true;
}

// The word's bytes into out (room for textLength bytes); returns how many.
uint32_t DecodeWord(const EncodedWord& word, uint8_t* out) {
    if (word.encoding == 'b') {
        Base64State state;
        uint32_t written = DecodeBase64(&state, word.text, word.textLength, out);
        written += FinishBase64(&state, out + written);
        return written;
    }
    uint32_t written = 0;
    for (uint32_t i = 0; i < word.textLength; ++i) {
        const uint8_t c = word.text[i];
        if (c == '_') {
            out[written++] = ' ';
        } else if (c == '=' && word.textLength - i >= 3 && HexValue(word.text[i + 1]) >= 0 &&
                   HexValue(word.text[i + 2]) >= 0) {
            out[written++] = static_cast<uint8_t>(HexValue(word.text[i + 1]) * 16 + HexValue(word.text[i + 2]));
            i += 2;
        } else {
            out[written++] = c;
        }
    }
    return written;
}

}  // namespace

void TextClear(MailText* out) {
    out->size = 0;
    out->full = false;
    out->text[0] = '\0';
}

void TextPutCodePoint(MailText* out, uint32_t cp) {
    if (out->full) return;
    if (cp == 0) cp = '?';
    if (cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) cp = 0xFFFD;
    uint8_t bytes[4];
    uint32_t length = 0;
    if (cp < 0x80) {
        bytes[length++] = static_cast<uint8_t>(cp);
    } else if (cp < 0x800) {
        bytes[length++] = static_cast<uint8_t>(0xC0 | (cp >> 6));
        bytes[length++] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        bytes[length++] = static_cast<uint8_t>(0xE0 | (cp >> 12));
        bytes[length++] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        bytes[length++] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    } else {
        bytes[length++] = static_cast<uint8_t>(0xF0 | (cp >> 18));
        bytes[length++] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
        bytes[length++] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        bytes[length++] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    }
    if (length > ItemTextBound - out->size) {
        out->full = true;
        return;
    }
    for (uint32_t i = 0; i < length; ++i) out->text[out->size++] = static_cast<char>(bytes[i]);
    out->text[out->size] = '\0';
}

Charset CharsetNamed(const uint8_t* name, uint32_t length) {
    if (NameIs(name, length, "utf-8") || NameIs(name, length, "utf8")) return Charset::Utf8;
    if (NameIs(name, length, "us-ascii") || NameIs(name, length, "ascii")) return Charset::Ascii;
    if (NameIs(name, length, "iso-8859-1") || NameIs(name, length, "iso8859-1") ||
        NameIs(name, length, "latin1")) {
        return Charset::Latin1;
    }
    if (NameIs(name, length, "iso-8859-15") || NameIs(name, length, "iso8859-15")) return Charset::Latin9;
    if (NameIs(name, length, "windows-1252") || NameIs(name, length, "cp1252")) return Charset::Windows1252;
    return Charset::Other;
}

void TextPutBytes(MailText* out, Charset charset, const uint8_t* bytes, uint32_t length) {
    uint32_t i = 0;
    while (i < length && !out->full) {
        const uint8_t b = bytes[i];
        switch (charset) {
            case Charset::Ascii:
                TextPutCodePoint(out, b < 0x80 ? b : '?');
                ++i;
                continue;
            case Charset::Latin1:
                TextPutCodePoint(out, b);
                ++i;
                continue;
            case Charset::Latin9:
                TextPutCodePoint(out, Latin9(b));
                ++i;
                continue;
            case Charset::Windows1252:
                TextPutCodePoint(out, Windows1252(b));
                ++i;
                continue;
            case Charset::Raw:
            case Charset::Utf8:
            case Charset::Other:
                break;
        }
        uint32_t cp = 0;
        const uint32_t sequence = Utf8Sequence(bytes + i, length - i, &cp);
        if (sequence > 0) {
            TextPutCodePoint(out, cp);
            i += sequence;
        } else {
            TextPutCodePoint(out, charset == Charset::Raw ? Windows1252(b) : '?');
            ++i;
        }
    }
}

void TextPutHeader(MailText* out, const uint8_t* value, uint32_t length) {
    while (length > 0 && IsBlank(value[0])) {
        ++value;
        --length;
    }
    while (length > 0 && IsBlank(value[length - 1])) --length;

    WordRun run;
    uint8_t decoded[MailWordBound];
    uint32_t literal = 0;  // where the text not yet written starts
    bool afterWord = false;
    uint32_t at = 0;
    while (at + 1 < length && !out->full) {
        EncodedWord word;
        if (value[at] != '=' || value[at + 1] != '?' || !ParseEncodedWord(value, length, at, &word)) {
            ++at;
            continue;
        }
        bool blanksOnly = true;
        for (uint32_t k = literal; k < at; ++k) blanksOnly = blanksOnly && IsBlank(value[k]);
        if (!(afterWord && blanksOnly) && at > literal) {
            FlushRun(out, &run);
            TextPutBytes(out, Charset::Raw, value + literal, at - literal);
        }
        const Charset charset = CharsetNamed(word.charset, word.charsetLength);
        const uint32_t size = DecodeWord(word, decoded);
        if (charset != run.charset || size > MailWordBound - run.size) FlushRun(out, &run);
        run.charset = charset;
        for (uint32_t k = 0; k < size; ++k) run.bytes[run.size++] = decoded[k];
        afterWord = true;
        at = word.end;
        literal = at;
    }
    FlushRun(out, &run);
    if (literal < length) TextPutBytes(out, Charset::Raw, value + literal, length - literal);
}

void ExtendedAppend(ExtendedValue* value, const uint8_t* text, uint32_t length, bool extended, bool first) {
    uint32_t i = 0;
    if (extended && first) {
        // charset'language'
        uint32_t quote = 0;
        while (quote < length && text[quote] != '\'') ++quote;
        if (quote < length) {
            value->charset = CharsetNamed(text, quote);
            uint32_t second = quote + 1;
            while (second < length && text[second] != '\'') ++second;
            i = second < length ? second + 1 : quote + 1;
        }
    }
    value->any = true;
    for (; i < length && value->size < MailWordBound; ++i) {
        const uint8_t c = text[i];
        if (extended && c == '%' && length - i >= 3 && HexValue(text[i + 1]) >= 0 && HexValue(text[i + 2]) >= 0) {
            value->bytes[value->size++] = static_cast<uint8_t>(HexValue(text[i + 1]) * 16 + HexValue(text[i + 2]));
            i += 2;
        } else {
            value->bytes[value->size++] = c;
        }
    }
}

void TextPutExtended(MailText* out, const ExtendedValue& value) {
    TextPutBytes(out, value.charset, value.bytes, value.size);
}
