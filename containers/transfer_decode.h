// Decoders of the content transfer encodings an attachment may carry:
// base64, quoted-printable and uuencode. They are fed the text in pieces as
// it arrives and never fail: bytes that do not belong to the encoding are
// passed over, as mail programs do.
#pragma once

#include <cstdint>

// ------------------------------------------------------------ base64

struct Base64State {
    uint32_t bits = 0;
    uint32_t count = 0;  // sextets gathered towards the next three bytes
};

// Room the output of one call needs: three bytes for each four characters,
// counting the up to three the state carries from the call before, and
// some more (groups and blocks are stored a little wider than they are).
constexpr uint32_t Base64Room(uint32_t length) { return (length / 4 + 1) * 3 + 4; }

// Decodes length characters, skipping any that are not of the alphabet; a
// '=' ends the group it falls in. Returns the bytes written to out.
uint32_t DecodeBase64(Base64State* state, const uint8_t* text, uint32_t length, uint8_t* out);
// The bytes of a last group left without its padding (at most two).
uint32_t FinishBase64(Base64State* state, uint8_t* out);

// ------------------------------------------------------------ quoted-printable

struct QpState {
    uint8_t escape = 0;       // 1 after '=', 2 after '=' and one hex digit
    uint8_t digit = 0;        // that digit
    bool lineBreak = false;   // a hard line break to write before more text
};

constexpr uint32_t QpRoom(uint32_t length) { return length + 4; }

// Decodes one piece of a line, its terminator removed. startsLine: the piece
// is the first of its line; endsLine: the last. A hard line break becomes
// CR LF, written only once text follows it, so that the break before a
// boundary never belongs to the attachment.
uint32_t DecodeQp(QpState* state, const uint8_t* text, uint32_t length, bool startsLine, bool endsLine,
                  uint8_t* out);

// ------------------------------------------------------------ uuencode

constexpr uint32_t UuLineRoom = 64;

// One uuencoded line, its terminator removed: as many bytes as its first
// character says (at most 63), characters missing at its end read as zero
// (mail transports strip trailing spaces).
uint32_t DecodeUuLine(const uint8_t* text, uint32_t length, uint8_t* out);

// "begin <mode> <name>": true with the name's place in text.
bool IsUuBegin(const uint8_t* text, uint32_t length, uint32_t* nameStart, uint32_t* nameLength);
// "end", trailing blanks allowed.
bool IsUuEnd(const uint8_t* text, uint32_t length);
