// Whole runs of base64 decoded sixteen characters at a time, where the
// processor has the instructions for it (SSSE3, on x86-64); elsewhere the
// scalar decoder does all the work.
#pragma once

#include <cstdint>

// Room past the end of the bytes a block run writes (a block of 16
// characters is stored as 16 bytes, of which 12 are its own).
constexpr uint32_t Base64BlockSlack = 4;

// Decodes whole groups of alphabet characters from the start of text, and
// the line breaks between them, sixteen characters at a time while at
// least sixteen are left; it stops before anything else (a group cut by a
// line break, padding, any other character). Returns the characters taken,
// with *written the bytes they gave.
uint32_t DecodeBase64Blocks(const uint8_t* text, uint32_t length, uint8_t* out, uint32_t* written);
