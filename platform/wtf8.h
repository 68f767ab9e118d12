// Names on the NT family are UTF-16 as the file system holds them, unpaired
// surrogates included. The program carries them as WTF-8: UTF-8 that also
// spells a lone surrogate in three bytes, so that every name comes back to
// the very units it was made of, which no code page can promise. Decoding
// is strict where a name is acted on and lenient where it is only shown.
//
// Templates over the unit type, so that the Windows adapters use wchar_t and
// portable code and its tests char16_t, without a cast between the two.
#pragma once

#include <cstddef>
#include <cstdint>

constexpr size_t NotWtf8 = static_cast<size_t>(-1);
constexpr uint32_t ReplacementCharacter = 0xFFFD;

namespace wtf8_detail {

inline bool IsHighSurrogate(uint32_t unit) { return unit >= 0xD800 && unit <= 0xDBFF; }
inline bool IsLowSurrogate(uint32_t unit) { return unit >= 0xDC00 && unit <= 0xDFFF; }

// The code point at units[*i], a pair taken whole; moves *i past it.
template <typename Unit>
uint32_t NextCodePoint(const Unit* units, size_t count, size_t* i) {
    const auto first = static_cast<uint32_t>(static_cast<uint16_t>(units[(*i)++]));
    if (IsHighSurrogate(first) && *i < count) {
        const auto second = static_cast<uint32_t>(static_cast<uint16_t>(units[*i]));
        if (IsLowSurrogate(second)) {
            ++*i;
            return 0x10000 + ((first - 0xD800) << 10) + (second - 0xDC00);
        }
    }
    return first;
}

inline size_t EncodedSize(uint32_t point) { return point < 0x80 ? 1 : point < 0x800 ? 2 : point < 0x10000 ? 3 : 4; }

}  // namespace wtf8_detail

// Bytes that the WTF-8 form of units[0, count) takes.
template <typename Unit>
size_t Wtf8Size(const Unit* units, size_t count) {
    size_t size = 0;
    for (size_t i = 0; i < count;) size += wtf8_detail::EncodedSize(wtf8_detail::NextCodePoint(units, count, &i));
    return size;
}

// Writes the WTF-8 form of units[0, count) to out, which has room for
// Wtf8Size bytes; returns that size. Nothing is terminated.
template <typename Unit>
size_t EncodeWtf8(const Unit* units, size_t count, char* out) {
    size_t n = 0;
    for (size_t i = 0; i < count;) {
        const uint32_t point = wtf8_detail::NextCodePoint(units, count, &i);
        const size_t size = wtf8_detail::EncodedSize(point);
        if (size == 1) {
            out[n++] = static_cast<char>(point);
            continue;
        }
        static const uint8_t Lead[5] = {0, 0, 0xC0, 0xE0, 0xF0};
        for (size_t k = size; k-- > 1;) out[n + k] = static_cast<char>(0x80 | ((point >> (6 * (size - 1 - k))) & 0x3F));
        out[n] = static_cast<char>(Lead[size] | (point >> (6 * (size - 1))));
        n += size;
    }
    return n;
}

// Decodes text[0, length) into out, which has room for room units; returns
// the units written (unterminated), or NotWtf8 when they do not fit or,
// unless lenient, when the bytes are not WTF-8: a stray or missing
// continuation byte, an overlong form, a point past U+10FFFF, or a pair of
// surrogates spelt apart (which would not come back as the same text).
// Leniently, each faulty sequence becomes U+FFFD. With out null, only
// counts.
template <typename Unit>
size_t DecodeWtf8(const char* text, size_t length, Unit* out, size_t room, bool lenient) {
    const auto* bytes = reinterpret_cast<const uint8_t*>(text);
    size_t n = 0;
    bool afterHigh = false;  // the last point was a lone high surrogate
    for (size_t i = 0; i < length;) {
        const uint8_t lead = bytes[i];
        size_t size = lead < 0x80 ? 1 : (lead & 0xE0) == 0xC0 ? 2 : (lead & 0xF0) == 0xE0 ? 3 : (lead & 0xF8) == 0xF0 ? 4 : 0;
        uint32_t point = size == 1 ? lead : size == 2 ? (lead & 0x1Fu) : size == 3 ? (lead & 0x0Fu) : (lead & 0x07u);
        bool valid = size != 0 && size <= length - i;
        for (size_t k = 1; valid && k < size; ++k) {
            valid = (bytes[i + k] & 0xC0) == 0x80;
            point = point << 6 | (bytes[i + k] & 0x3Fu);
        }
        valid = valid && wtf8_detail::EncodedSize(point) == size && point <= 0x10FFFF &&
                !(afterHigh && wtf8_detail::IsLowSurrogate(point));
        if (!valid) {
            if (!lenient) return NotWtf8;
            point = ReplacementCharacter;
            size = 1;
            while (i + size < length && (bytes[i + size] & 0xC0) == 0x80 && size < 4) ++size;
        }
        afterHigh = valid && wtf8_detail::IsHighSurrogate(point);
        i += size;
        const size_t units = point >= 0x10000 ? 2 : 1;
        if (units > room - n) return NotWtf8;
        if (out == nullptr) {
            n += units;
        } else if (units == 2) {
            out[n++] = static_cast<Unit>(0xD800 + ((point - 0x10000) >> 10));
            out[n++] = static_cast<Unit>(0xDC00 + ((point - 0x10000) & 0x3FF));
        } else {
            out[n++] = static_cast<Unit>(point);
        }
    }
    return n;
}
