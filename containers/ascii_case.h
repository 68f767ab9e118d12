// Names in mail (header fields, charsets, months) compare without regard to
// the case of ASCII letters, and only of those: bytes beyond ASCII are data.
#pragma once

#include <cstdint>

inline uint8_t AsciiLower(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c; }

// The length bytes at name spell wanted (lower case), whatever their case.
inline bool NameIs(const uint8_t* name, uint32_t length, const char* wanted) {
    uint32_t i = 0;
    for (; i < length && wanted[i] != '\0'; ++i) {
        if (AsciiLower(name[i]) != static_cast<uint8_t>(wanted[i])) return false;
    }
    return i == length && wanted[i] == '\0';
}
