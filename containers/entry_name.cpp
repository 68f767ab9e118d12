#include "containers/entry_name.h"

namespace {

constexpr uint32_t ReplacementCharacter = 0xFFFD;

// CP437 0x80-0xFF as Unicode code points; 0x00-0x7F are ASCII.
constexpr uint16_t Cp437High[128] = {
    0x00C7, 0x00FC, 0x00E9, 0x00E2, 0x00E4, 0x00E0, 0x00E5, 0x00E7, 0x00EA, 0x00EB, 0x00E8, 0x00EF, 0x00EE,
    0x00EC, 0x00C4, 0x00C5, 0x00C9, 0x00E6, 0x00C6, 0x00F4, 0x00F6, 0x00F2, 0x00FB, 0x00F9, 0x00FF, 0x00D6,
    0x00DC, 0x00A2, 0x00A3, 0x00A5, 0x20A7, 0x0192, 0x00E1, 0x00ED, 0x00F3, 0x00FA, 0x00F1, 0x00D1, 0x00AA,
    0x00BA, 0x00BF, 0x2310, 0x00AC, 0x00BD, 0x00BC, 0x00A1, 0x00AB, 0x00BB, 0x2591, 0x2592, 0x2593, 0x2502,
    0x2524, 0x2561, 0x2562, 0x2556, 0x2555, 0x2563, 0x2551, 0x2557, 0x255D, 0x255C, 0x255B, 0x2510, 0x2514,
    0x2534, 0x252C, 0x251C, 0x2500, 0x253C, 0x255E, 0x255F, 0x255A, 0x2554, 0x2569, 0x2566, 0x2560, 0x2550,
    0x256C, 0x2567, 0x2568, 0x2564, 0x2565, 0x2559, 0x2558, 0x2552, 0x2553, 0x256B, 0x256A, 0x2518, 0x250C,
    0x2588, 0x2584, 0x258C, 0x2590, 0x2580, 0x03B1, 0x00DF, 0x0393, 0x03C0, 0x03A3, 0x03C3, 0x00B5, 0x03C4,
    0x03A6, 0x0398, 0x03A9, 0x03B4, 0x221E, 0x03C6, 0x03B5, 0x2229, 0x2261, 0x00B1, 0x2265, 0x2264, 0x2320,
    0x2321, 0x00F7, 0x2248, 0x00B0, 0x2219, 0x00B7, 0x221A, 0x207F, 0x00B2, 0x25A0, 0x00A0,
};

void AppendCodePoint(EntryText* text, uint32_t cp) {
    if (text->full) return;
    if (cp == 0) cp = ReplacementCharacter;
    uint8_t bytes[4];
    uint32_t count = 0;
    if (cp < 0x80) {
        bytes[count++] = static_cast<uint8_t>(cp);
    } else if (cp < 0x800) {
        bytes[count++] = static_cast<uint8_t>(0xC0 | (cp >> 6));
        bytes[count++] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
        bytes[count++] = static_cast<uint8_t>(0xE0 | (cp >> 12));
        bytes[count++] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        bytes[count++] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    } else {
        bytes[count++] = static_cast<uint8_t>(0xF0 | (cp >> 18));
        bytes[count++] = static_cast<uint8_t>(0x80 | ((cp >> 12) & 0x3F));
        bytes[count++] = static_cast<uint8_t>(0x80 | ((cp >> 6) & 0x3F));
        bytes[count++] = static_cast<uint8_t>(0x80 | (cp & 0x3F));
    }
    if (count > ItemTextBound - text->length) {
        text->full = true;
        return;
    }
    for (uint32_t i = 0; i < count; ++i) text->text[text->length++] = static_cast<char>(bytes[i]);
    text->text[text->length] = '\0';
}

// One well-formed UTF-8 character at raw[at]: its code point and length,
// or false (overlong forms, surrogates and values past U+10FFFF are not).
bool DecodeUtf8(const uint8_t* raw, uint32_t length, uint32_t at, uint32_t* cp, uint32_t* used) {
    const uint8_t lead = raw[at];
    uint32_t count = 0;
    uint32_t value = 0;
    uint32_t least = 0;
    if (lead < 0x80) {
        *cp = lead;
        *used = 1;
        return true;
    } else if (lead >= 0xC2 && lead <= 0xDF) {
        count = 2, value = lead & 0x1Fu, least = 0x80;
    } else if (lead >= 0xE0 && lead <= 0xEF) {
        count = 3, value = lead & 0x0Fu, least = 0x800;
    } else if (lead >= 0xF0 && lead <= 0xF4) {
        count = 4, value = lead & 0x07u, least = 0x10000;
    } else {
        return false;
    }
    if (count > length - at) return false;
    for (uint32_t i = 1; i < count; ++i) {
        const uint8_t next = raw[at + i];
        if ((next & 0xC0) != 0x80) return false;
        value = (value << 6) | (next & 0x3Fu);
    }
    if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
    *cp = value;
    *used = count;
    return true;
}

}  // namespace

void AppendUtf8Name(EntryText* text, const uint8_t* raw, uint32_t length) {
    uint32_t at = 0;
    while (at < length && !text->full) {
        uint32_t cp = 0;
        uint32_t used = 0;
        if (!DecodeUtf8(raw, length, at, &cp, &used)) {
            cp = ReplacementCharacter;
            used = 1;
        }
        AppendCodePoint(text, cp);
        at += used;
    }
}

void AppendCp437Name(EntryText* text, const uint8_t* raw, uint32_t length) {
    for (uint32_t at = 0; at < length && !text->full; ++at) {
        const uint8_t byte = raw[at];
        AppendCodePoint(text, byte < 0x80 ? byte : Cp437High[byte - 0x80]);
    }
}

void AppendText(EntryText* text, const char* ascii) {
    for (; *ascii != '\0' && !text->full; ++ascii) AppendCodePoint(text, static_cast<uint8_t>(*ascii));
}
