#include "containers/base64_blocks.h"

#if defined(__x86_64__) && (defined(__GNUC__) || defined(__clang__))

#include <tmmintrin.h>

namespace {

constexpr uint32_t Block = 16;

// Each character is told valid by its two nibbles: a bit of the table of
// its low nibble and one of its high nibble meet only outside the alphabet.
// Its value is the character plus an offset chosen by its high nibble
// ('/' shares its nibble with '+' and takes the place before).
__attribute__((target("ssse3"))) uint32_t DecodeBlocksSsse3(const uint8_t* text, uint32_t length, uint8_t* out,
                                                             uint32_t* written) {
    const __m128i lowTable = _mm_setr_epi8(0x15, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x11, 0x13, 0x1A,
                                           0x1B, 0x1B, 0x1B, 0x1A);
    const __m128i highTable = _mm_setr_epi8(0x10, 0x10, 0x01, 0x02, 0x04, 0x08, 0x04, 0x08, 0x10, 0x10, 0x10, 0x10,
                                            0x10, 0x10, 0x10, 0x10);
    const __m128i offsets = _mm_setr_epi8(0, 16, 19, 4, -65, -65, -71, -71, 0, 0, 0, 0, 0, 0, 0, 0);
    const __m128i nibble = _mm_set1_epi8(0x0F);
    const __m128i slash = _mm_set1_epi8(0x2F);
    const __m128i zero = _mm_setzero_si128();
    // Sextets a b c d: a*64+b and c*64+d, then (a*64+b)*4096+(c*64+d);
    // the three bytes of each group back to their order.
    const __m128i pairs = _mm_set1_epi32(0x01400140);
    const __m128i quads = _mm_set1_epi32(0x00011000);
    const __m128i order = _mm_setr_epi8(2, 1, 0, 6, 5, 4, 10, 9, 8, 14, 13, 12, -1, -1, -1, -1);
    uint32_t taken = 0;
    uint8_t* o = out;
    while (length - taken >= Block) {
        const __m128i chars = _mm_loadu_si128(reinterpret_cast<const __m128i*>(text + taken));
        const __m128i high = _mm_and_si128(_mm_srli_epi32(chars, 4), nibble);
        const __m128i low = _mm_and_si128(chars, nibble);
        const __m128i outside = _mm_and_si128(_mm_shuffle_epi8(lowTable, low), _mm_shuffle_epi8(highTable, high));
        const auto valid = static_cast<uint32_t>(_mm_movemask_epi8(_mm_cmpeq_epi8(outside, zero)));
        const __m128i place = _mm_add_epi8(high, _mm_cmpeq_epi8(chars, slash));
        const __m128i sextets = _mm_add_epi8(chars, _mm_shuffle_epi8(offsets, place));
        const __m128i groups = _mm_madd_epi16(_mm_maddubs_epi16(sextets, pairs), quads);
        // Stored whole: the room holds the block's 12 bytes and 4 more.
        _mm_storeu_si128(reinterpret_cast<__m128i*>(o), _mm_shuffle_epi8(groups, order));
        if (valid == 0xFFFF) {
            o += 12;
            taken += Block;
            continue;
        }
        // The groups before the first character outside the alphabet are
        // good; a line break after whole groups is passed over here, as
        // base64 lines of whole groups end in one, anything else is left
        // to the scalar decoder.
        const auto first = static_cast<uint32_t>(__builtin_ctz(~valid));
        o += first / 4 * 3;
        taken += first / 4 * 4;
        if (first % 4 != 0) break;
        const uint32_t before = taken;
        while (taken < length && (text[taken] == '\r' || text[taken] == '\n')) ++taken;
        if (taken == before) break;
    }
    *written = static_cast<uint32_t>(o - out);
    return taken;
}

bool HasSsse3() {
    static const bool has = [] {
        __builtin_cpu_init();
        return __builtin_cpu_supports("ssse3") != 0;
    }();
    return has;
}

}  // namespace

uint32_t DecodeBase64Blocks(const uint8_t* text, uint32_t length, uint8_t* out, uint32_t* written) {
    *written = 0;
    return HasSsse3() ? DecodeBlocksSsse3(text, length, out, written) : 0;
}

#else

uint32_t DecodeBase64Blocks(const uint8_t*, uint32_t, uint8_t*, uint32_t* written) {
    *written = 0;
    return 0;
}

#endif
