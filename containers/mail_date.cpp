#include "containers/mail_date.h"
#include "containers/ascii_case.h"

namespace {

constexpr uint32_t MostTokens = 16;

struct Token {
    const uint8_t* text;
    uint32_t length;
};

bool IsSeparator(uint8_t c) {
    return c == ' ' || c == '\t' || c == '\r' || c == '\n' || c == ',' || c == '-' || c == '(' || c == ')';
}

// The number a token of one to four digits spells, or -1.
int Number(const Token& token) {
    if (token.length == 0 || token.length > 4) return -1;
    int value = 0;
    for (uint32_t i = 0; i < token.length; ++i) {
        if (token.text[i] < '0' || token.text[i] > '9') return -1;
        value = value * 10 + (token.text[i] - '0');
    }
    return value;
}

// 1..12 for a month's name or its three-letter abbreviation, else 0.
int Month(const Token& token) {
    static const char* const names[12] = {"jan", "feb", "mar", "apr", "may", "jun",
                                          "jul", "aug", "sep", "oct", "nov", "dec"};
    if (token.length < 3 || token.length > 9) return 0;
    for (uint32_t i = 0; i < token.length; ++i) {
        const uint8_t c = AsciiLower(token.text[i]);
        if (c < 'a' || c > 'z') return 0;
    }
    for (int m = 0; m < 12; ++m) {
        if (AsciiLower(token.text[0]) == names[m][0] && AsciiLower(token.text[1]) == names[m][1] &&
            AsciiLower(token.text[2]) == names[m][2]) {
            return m + 1;
        }
    }
    return 0;
}

// Two-digit years as mail programs read them; three digits count from 1900
// (RFC 5322's obsolete form).
int FullYear(const Token& token) {
    const int year = Number(token);
    if (year < 0) return -1;
    if (token.length == 2) return year < 50 ? 2000 + year : 1900 + year;
    if (token.length == 3) return 1900 + year;
    if (token.length == 4) return year;
    return -1;
}

void PutTwoDigits(MailText* out, int value) {
    TextPutCodePoint(out, static_cast<uint32_t>('0' + value / 10));
    TextPutCodePoint(out, static_cast<uint32_t>('0' + value % 10));
}

bool PutDate(MailText* out, int day, int month, int year) {
    if (day < 1 || day > 31 || month < 1 || month > 12 || year < 1000 || year > 9999) return false;
    PutTwoDigits(out, day);
    TextPutCodePoint(out, '/');
    PutTwoDigits(out, month);
    TextPutCodePoint(out, '/');
    PutTwoDigits(out, year / 100);
    PutTwoDigits(out, year % 100);
    return true;
}

bool ReadDate(MailText* out, const Token* tokens, uint32_t count) {
    // ISO: 2002-05-12
    if (count >= 3 && tokens[0].length == 4 && Number(tokens[0]) >= 0 && tokens[1].length <= 2 &&
        tokens[2].length <= 2 && Number(tokens[1]) >= 0 && Number(tokens[2]) >= 0) {
        return PutDate(out, Number(tokens[2]), Number(tokens[1]), Number(tokens[0]));
    }
    uint32_t m = 0;
    while (m < count && Month(tokens[m]) == 0) ++m;
    if (m == count) return false;
    const int month = Month(tokens[m]);
    // RFC 5322: day month year.
    if (m > 0 && tokens[m - 1].length <= 2 && Number(tokens[m - 1]) >= 0 && m + 1 < count) {
        return PutDate(out, Number(tokens[m - 1]), month, FullYear(tokens[m + 1]));
    }
    // ctime: month day time year.
    if (m + 1 < count && tokens[m + 1].length <= 2 && Number(tokens[m + 1]) >= 0) {
        for (uint32_t k = m + 2; k < count; ++k) {
            if (tokens[k].length == 4 && Number(tokens[k]) >= 0) {
                return PutDate(out, Number(tokens[m + 1]), month, Number(tokens[k]));
            }
        }
    }
    return false;
}

}  // namespace

void PutMailDate(MailText* out, const uint8_t* value, uint32_t length) {
    Token tokens[MostTokens];
    uint32_t count = 0;
    uint32_t i = 0;
    while (i < length && count < MostTokens) {
        while (i < length && IsSeparator(value[i])) ++i;
        const uint32_t start = i;
        while (i < length && !IsSeparator(value[i])) ++i;
        if (i > start) tokens[count++] = Token{value + start, i - start};
    }
    MailText date;
    if (ReadDate(&date, tokens, count)) {
        *out = date;
        return;
    }
    while (length > 0 && (value[0] == ' ' || value[0] == '\t')) {
        ++value;
        --length;
    }
    while (length > 0 && (value[length - 1] == ' ' || value[length - 1] == '\t' || value[length - 1] == '\r')) {
        --length;
    }
    TextClear(out);
    TextPutBytes(out, Charset::Raw, value, length);
}
