#include <gtest/gtest.h>

#include <algorithm>
#include <string>

#include "engine/sha256.h"

namespace {

std::string Hex(const std::string& text, size_t piece) {
    Sha256 hash;
    Sha256Start(&hash);
    for (size_t i = 0; i < text.size(); i += piece) Sha256Add(&hash, text.data() + i, std::min(piece, text.size() - i));
    char hex[65];
    Sha256Hex(&hash, hex);
    return hex;
}

// The published test vectors, fed whole and in pieces that straddle the
// 64-byte blocks; 55 and 56 bytes are the lengths at which the padding
// just fits one block or needs a second.
TEST(Sha256, PublishedVectorsWholeAndInPieces) {
    const std::string two = "abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq";
    for (size_t piece : {1u, 7u, 63u, 64u, 1000u}) {
        SCOPED_TRACE(piece);
        EXPECT_EQ(Hex("", piece), "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855");
        EXPECT_EQ(Hex("abc", piece), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
        EXPECT_EQ(Hex(two, piece), "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1");
        EXPECT_EQ(Hex(std::string(1000000, 'a'), piece * 97),
                  "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0");
    }
    EXPECT_EQ(Hex(std::string(55, 'a'), 64), "9f4390f8d30c2dd92ec9f095b65e2b9ae9b0a925a5258e241c9f1e910f734318");
    EXPECT_EQ(Hex(std::string(56, 'a'), 64), "b35439a4ac6f0948b6d6f9e3c6af0f5f590ce20f1bde7090ef7970686ec6738a");
}

}  // namespace
