// Names from the file system, as the NT family's walk carries them: any
// bytes given as WTF-8 are either refused or decode to units that encode
// back to the very same bytes; shown leniently, any bytes decode within the
// room they say they need. Units read as UTF-16 always come back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/listed_name.h"
#include "platform/wtf8.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "wtf8_fuzz: %s\n", what);
    std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const auto* text = reinterpret_cast<const char*>(data);

    const size_t units = DecodeWtf8<char16_t>(text, size, nullptr, NotWtf8, false);
    if (units != NotWtf8) {
        std::vector<char16_t> wide(units + 1);
        if (DecodeWtf8(text, size, wide.data(), units, false) != units) Fail("the count and the decoding differ");
        if (units > 0 && DecodeWtf8(text, size, wide.data(), units - 1, false) != NotWtf8) Fail("decoded into too little room");
        if (Wtf8Size(wide.data(), units) != size) Fail("the size of the encoding differs from the input");
        std::vector<char> again(size + 1);
        if (EncodeWtf8(wide.data(), units, again.data()) != size || std::memcmp(again.data(), text, size) != 0) {
            Fail("strict decoding does not come back to the same bytes");
        }
    }
    const size_t shown = DecodeWtf8<char16_t>(text, size, nullptr, NotWtf8, true);
    if (shown == NotWtf8 || shown > size) Fail("lenient decoding failed or grew");
    std::vector<char16_t> wide(shown + 1);
    if (DecodeWtf8(text, size, wide.data(), shown, true) != shown) Fail("lenient count and decoding differ");

    // The bytes as UTF-16 units: every sequence of units is a name the
    // system may hold, and must survive the trip.
    const size_t count = size / 2;
    std::vector<char16_t> given(count + 1);
    for (size_t i = 0; i < count; ++i) given[i] = static_cast<char16_t>(data[2 * i] | data[2 * i + 1] << 8);
    std::vector<char> encoded(Wtf8Size(given.data(), count) + 1);
    const size_t bytes = EncodeWtf8(given.data(), count, encoded.data());
    std::vector<char16_t> back(count + 1);
    if (DecodeWtf8(encoded.data(), bytes, back.data(), count, false) != count ||
        std::memcmp(back.data(), given.data(), count * sizeof(char16_t)) != 0) {
        Fail("units do not come back from their encoding");
    }
    // Whatever the verdict, judging a name reads only the name.
    (void)IsJoinableName(given.data(), count);
    (void)IsJoinableName(text, size, [](uint32_t byte) { return byte >= 0x81 && byte <= 0x9F; });
    return 0;
}
