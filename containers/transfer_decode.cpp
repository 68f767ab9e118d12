#include "containers/transfer_decode.h"

#include "containers/base64_blocks.h"

#include <array>
#include <cstring>

namespace {

// Each character's bits already in their place among the three bytes of a
// group, as a little-endian word holds them: one group decodes with four
// loads, three ORs, one test and one store. A character outside the
// alphabet carries Outside in every table.
constexpr uint32_t Outside = 1u << 31;

constexpr uint32_t SextetOf(uint32_t c) {
    if (c >= 'A' && c <= 'Z') return c - 'A';
    if (c >= 'a' && c <= 'z') return c - 'a' + 26;
    if (c >= '0' && c <= '9') return c - '0' + 52;
    if (c == '+') return 62;
    if (c == '/') return 63;
    return 64;
}

constexpr uint32_t Placed(uint32_t v, unsigned place) {
    switch (place) {
        case 0: return v << 2;                                 // first byte, bits 7-2
        case 1: return (v >> 4) | ((v & 15u) << 12);           // first byte 1-0, second 7-4
        case 2: return ((v >> 2) << 8) | ((v & 3u) << 22);     // second byte 3-0, third 7-6
        default: return v << 16;                               // third byte 5-0
    }
}

constexpr std::array<uint32_t, 256> PlaceTable(unsigned place) {
    std::array<uint32_t, 256> table{};
    for (uint32_t c = 0; c < 256; ++c) {
        const uint32_t v = SextetOf(c);
        table[c] = v == 64 ? Outside : Placed(v, place);
    }
    return table;
}

constexpr std::array<uint32_t, 256> Place0 = PlaceTable(0);
constexpr std::array<uint32_t, 256> Place1 = PlaceTable(1);
constexpr std::array<uint32_t, 256> Place2 = PlaceTable(2);
constexpr std::array<uint32_t, 256> Sextet = [] {
    std::array<uint32_t, 256> table{};
    for (uint32_t c = 0; c < 256; ++c) table[c] = SextetOf(c);
    return table;
}();
constexpr std::array<uint32_t, 256> Place3 = PlaceTable(3);

// The group's three bytes, and a fourth that the next group overwrites.
inline void StoreGroup(uint8_t* out, uint32_t group) {
#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
    std::memcpy(out, &group, 4);
#else
    out[0] = static_cast<uint8_t>(group & 0xFFu);
    out[1] = static_cast<uint8_t>((group >> 8) & 0xFFu);
    out[2] = static_cast<uint8_t>((group >> 16) & 0xFFu);
#endif
}

inline uint8_t Low8(uint32_t v) { return static_cast<uint8_t>(v & 0xFFu); }

int HexValue(uint8_t c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t'; }

}  // namespace

static_assert(Base64Room(0) >= 3 + Base64BlockSlack, "a block's store stays inside the room");

uint32_t DecodeBase64(Base64State* state, const uint8_t* text, uint32_t length, uint8_t* out) {
    uint8_t* o = out;
    const uint8_t* p = text;
    const uint8_t* const end = text + length;
    uint32_t bits = state->bits;
    uint32_t count = state->count;
    while (p < end) {
        if (count == 0) {
            // Whole groups between line breaks: the bulk of any attachment.
            uint32_t written = 0;
            p += DecodeBase64Blocks(p, static_cast<uint32_t>(end - p), o, &written);
            o += written;
            while (end - p >= 4) {
                const uint32_t group = Place0[p[0]] | Place1[p[1]] | Place2[p[2]] | Place3[p[3]];
                if ((group & Outside) != 0) break;
                StoreGroup(o, group);
                o += 3;
                p += 4;
            }
            if (p == end) break;
        }
        const uint8_t c = *p++;
        const uint32_t v = Sextet[c];
        if (v < 64) {
            bits = (bits << 6) | v;
            if (++count == 4) {
                o[0] = Low8(bits >> 16);
                o[1] = Low8(bits >> 8);
                o[2] = Low8(bits);
                o += 3;
                bits = 0;
                count = 0;
            }
        } else if (c == '=') {
            Base64State partial{bits, count};
            o += FinishBase64(&partial, o);
            bits = 0;
            count = 0;
        }
    }
    state->bits = bits;
    state->count = count;
    return static_cast<uint32_t>(o - out);
}

uint32_t FinishBase64(Base64State* state, uint8_t* out) {
    uint32_t written = 0;
    if (state->count == 2) {
        out[0] = Low8(state->bits >> 4);
        written = 1;
    } else if (state->count == 3) {
        out[0] = Low8(state->bits >> 10);
        out[1] = Low8(state->bits >> 2);
        written = 2;
    }
    state->bits = 0;
    state->count = 0;
    return written;
}

uint32_t DecodeQp(QpState* state, const uint8_t* text, uint32_t length, bool startsLine, bool endsLine,
                  uint8_t* out) {
    uint8_t* o = out;
    if (startsLine && state->lineBreak) {
        *o++ = '\r';
        *o++ = '\n';
        state->lineBreak = false;
    }
    // Blanks at the end of a line were added in transport (RFC 2045).
    if (endsLine) {
        while (length > 0 && IsBlank(text[length - 1])) --length;
    }
    for (uint32_t i = 0; i < length; ++i) {
        const uint8_t c = text[i];
        if (state->escape == 1) {
            if (HexValue(c) >= 0) {
                state->digit = c;
                state->escape = 2;
                continue;
            }
            *o++ = '=';  // not an escape: the '=' stands for itself
            state->escape = 0;
        } else if (state->escape == 2) {
            state->escape = 0;
            const int low = HexValue(c);
            if (low >= 0) {
                *o++ = static_cast<uint8_t>(HexValue(state->digit) * 16 + low);
                continue;
            }
            *o++ = '=';
            *o++ = state->digit;
        }
        if (c == '=') {
            state->escape = 1;
        } else {
            *o++ = c;
        }
    }
    if (endsLine) {
        if (state->escape == 1) {
            state->escape = 0;  // "=" at the end: a soft break, no line break
        } else {
            if (state->escape == 2) {
                *o++ = '=';
                *o++ = state->digit;
                state->escape = 0;
            }
            state->lineBreak = true;
        }
    }
    return static_cast<uint32_t>(o - out);
}

uint32_t DecodeUuLine(const uint8_t* text, uint32_t length, uint8_t* out) {
    if (length == 0) return 0;
    const uint32_t count = static_cast<uint32_t>(text[0] - 32u) & 63u;
    auto sextet = [&](uint32_t at) -> uint32_t {
        return at < length ? (static_cast<uint32_t>(text[at] - 32u) & 63u) : 0u;
    };
    uint32_t written = 0;
    for (uint32_t at = 1; written < count; at += 4) {
        const uint32_t v = (sextet(at) << 18) | (sextet(at + 1) << 12) | (sextet(at + 2) << 6) | sextet(at + 3);
        const uint8_t bytes[3] = {Low8(v >> 16), Low8(v >> 8), Low8(v)};
        for (uint32_t k = 0; k < 3 && written < count; ++k) out[written++] = bytes[k];
    }
    return written;
}

bool IsUuBegin(const uint8_t* text, uint32_t length, uint32_t* nameStart, uint32_t* nameLength) {
    static const char prefix[] = "begin ";
    constexpr uint32_t prefixLength = sizeof prefix - 1;
    if (length < prefixLength) return false;
    for (uint32_t i = 0; i < prefixLength; ++i) {
        if (text[i] != static_cast<uint8_t>(prefix[i])) return false;
    }
    uint32_t at = prefixLength;
    uint32_t digits = 0;
    while (at < length && text[at] >= '0' && text[at] <= '7') {
        ++at;
        ++digits;
    }
    if (digits < 3 || digits > 4 || at >= length || !IsBlank(text[at])) return false;
    while (at < length && IsBlank(text[at])) ++at;
    uint32_t end = length;
    while (end > at && (IsBlank(text[end - 1]) || text[end - 1] == '\r')) --end;
    if (end == at) return false;
    *nameStart = at;
    *nameLength = end - at;
    return true;
}

bool IsUuEnd(const uint8_t* text, uint32_t length) {
    if (length < 3 || text[0] != 'e' || text[1] != 'n' || text[2] != 'd') return false;
    for (uint32_t i = 3; i < length; ++i) {
        if (!IsBlank(text[i]) && text[i] != '\r') return false;
    }
    return true;
}
