// The text form of Windows names: every run of UTF-16 units, unpaired
// surrogates included, must come back from WTF-8 as the very same units;
// anything that is not WTF-8 is refused where a name is acted on. And the
// rule by which the walk joins only a name that is one name of its folder.
#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "platform/listed_name.h"
#include "platform/wtf8.h"

namespace {

std::string Encode(const std::u16string& units) {
    std::string text(Wtf8Size(units.data(), units.size()), '\0');
    EXPECT_EQ(EncodeWtf8(units.data(), units.size(), &text[0]), text.size());
    return text;
}

// The units text decodes to; a lone U+0000 marks a refusal.
std::u16string Decode(const std::string& text, bool lenient = false) {
    const size_t needed = DecodeWtf8<char16_t>(text.data(), text.size(), nullptr, NotWtf8, lenient);
    if (needed == NotWtf8) return std::u16string(1, u'\0');
    std::u16string units(needed, u'\0');
    EXPECT_EQ(DecodeWtf8(text.data(), text.size(), &units[0], units.size(), lenient), needed);
    return units;
}

const std::u16string Refused(1, u'\0');

TEST(Wtf8Test, EveryRunOfUnitsComesBackUnchanged) {
    const std::u16string runs[] = {
        u"plain.exe",
        u"\u0412\u0438\u0440\u0443\u0441.exe",                   // Cyrillic
        u"\u6587\u4EF6\u5939",                                    // CJK
        u"\xFF57\xFF4F\xFF52\xFF4D.exe",                          // fullwidth look-alikes
        {0xD83D, 0xDE00, u'.', u'x'},                             // an astral pair
        {0xD800},                                                 // lone high, alone
        {u'a', 0xD800, u'b'},                                     // lone high, then a letter
        {0xDC00, u'a'},                                           // lone low first
        {0xDFFF, 0xD800},                                         // low then high: two lone ones
        {0xD83D, 0xD83D, 0xDE00},                                 // lone high before a pair
        {0xDBFF, 0xDFFF},                                         // U+10FFFF
        {0x007F, 0x0080, 0x07FF, 0x0800, 0xFFFF, 0xD800, 0xDC00}, // every boundary
    };
    for (const std::u16string& units : runs) {
        const std::string text = Encode(units);
        EXPECT_EQ(Decode(text), units) << text;
    }
    EXPECT_EQ(Encode({0xD83D, 0xDE00}), "\xF0\x9F\x98\x80") << "a pair is one point, not two surrogates";
}

TEST(Wtf8Test, SizesChangeExactlyAtEachBoundary) {
    const std::pair<std::u16string, std::string> cases[] = {
        {{0x007F}, "\x7F"},         {{0x0080}, "\xC2\x80"},     {{0x07FF}, "\xDF\xBF"},
        {{0x0800}, "\xE0\xA0\x80"}, {{0xFFFF}, "\xEF\xBF\xBF"}, {{0xD800, 0xDC00}, "\xF0\x90\x80\x80"},
        {{0xDBFF, 0xDFFF}, "\xF4\x8F\xBF\xBF"}, {{0xD800}, "\xED\xA0\x80"}, {{0xDC00}, "\xED\xB0\x80"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(Wtf8Size(c.first.data(), c.first.size()), c.second.size()) << c.second;
        EXPECT_EQ(Encode(c.first), c.second);
        EXPECT_EQ(Decode(c.second), c.first);
    }
}

TEST(Wtf8Test, StrictDecodingRefusesWhatIsNotWtf8AndLenientShowsIt) {
    struct Case {
        const char* what;
        std::string bytes;
        std::u16string lenient;
    };
    const Case cases[] = {
        {"overlong 2-byte NUL", "a\xC0\x80", u"a\xFFFD"},
        {"overlong U+007F", "\xC1\xBF", u"\xFFFD"},
        {"overlong U+07FF", "\xE0\x9F\xBF", u"\xFFFD"},
        {"overlong U+FFFF", "\xF0\x8F\xBF\xBF", u"\xFFFD"},
        {"past U+10FFFF", "\xF4\x90\x80\x80", u"\xFFFD"},
        {"lead F5", "\xF5\x80\x80\x80", u"\xFFFD"},
        {"lead F8", "\xF8\x88\x80\x80\x80", u"\xFFFD\xFFFD"},
        {"stray continuation", "x\x80y", u"x\xFFFDy"},
        {"truncated at the end", "ab\xE2\x82", u"ab\xFFFD"},
        {"truncated before a letter", "\xE2\x82z", u"\xFFFDz"},
        {"4-byte lead cut to 3", "\xF0\x9F\x98", u"\xFFFD"},
        // The pair U+D83D U+DE00 spelt as two points would decode to the
        // units of U+1F600, whose WTF-8 differs: two texts, one name.
        {"pair spelt apart", "\xED\xA0\xBD\xED\xB8\x80", {0xD83D, 0xFFFD}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        EXPECT_EQ(Decode(c.bytes), Refused);
        EXPECT_EQ(Decode(c.bytes, true), c.lenient);
    }
    // A lone low after a lone high that is not its partner is fine apart.
    EXPECT_EQ(Decode("\xED\xA0\xBD" "a" "\xED\xB8\x80"), (std::u16string{0xD83D, u'a', 0xDE00}));
    EXPECT_EQ(Decode(""), u"");
}

TEST(Wtf8Test, ExactRoomDecodesAndOneUnitLessIsRefused) {
    char16_t out[4] = {u'#', u'#', u'#', u'#'};
    // U+00E9 then U+1F600: three units.
    const std::string text = "\xC3\xA9\xF0\x9F\x98\x80";
    EXPECT_EQ(DecodeWtf8(text.data(), text.size(), out, 3, false), 3u);
    EXPECT_EQ(std::u16string(out, 4), (std::u16string{0x00E9, 0xD83D, 0xDE00, u'#'})) << "nothing past the units";
    EXPECT_EQ(DecodeWtf8(text.data(), text.size(), out, 2, false), NotWtf8) << "a pair never split at the end";
    EXPECT_EQ(DecodeWtf8(text.data(), 2, out, 1, false), 1u);
    EXPECT_EQ(DecodeWtf8(text.data(), 2, out, 0, false), NotWtf8);
    // Leniency forgives faulty bytes, never a lack of room.
    EXPECT_EQ(DecodeWtf8("\x80\x80", 2, out, 1, true), 1u);
    EXPECT_EQ(DecodeWtf8("\x80" "a", 2, out, 1, true), NotWtf8);
    EXPECT_EQ(DecodeWtf8<char16_t>(text.data(), text.size(), nullptr, 3, false), 3u);
    EXPECT_EQ(DecodeWtf8<char16_t>(text.data(), text.size(), nullptr, 2, false), NotWtf8);
}

template <typename Unit>
bool Joinable(const std::basic_string<Unit>& name) {
    return IsJoinableName(name.data(), name.size());
}

TEST(Wtf8Test, OnlyOneNameOfItsFolderIsJoinable) {
    for (const char* name : {"a", "...", ".x", "x.", "..x", "a b", " ", "caf\xE9.exe", "\x7F", "\xFF"}) {
        EXPECT_TRUE(Joinable(std::string(name))) << name;
    }
    for (const char* name : {".", "..", "a\\b", "a/b", "c:", "*.*", "a?", "\"q\"", "<", ">", "|", "\x1F", "\t"}) {
        EXPECT_FALSE(Joinable(std::string(name))) << name;
    }
    EXPECT_FALSE(Joinable(std::string()));
    EXPECT_FALSE(Joinable(std::string("a\0b", 3))) << "a NUL inside the counted name";

    // Wide names: look-alikes are names of their own, since the wide
    // functions never fold them into the characters they resemble.
    const std::u16string accepted[] = {u"\xFF0E\xFF0E", u"\xFF0E\xFF0E\xFF3C\xFF0E\xFF0E\xFF3C" u"x.exe", u"...",
                                       u".x", {0xD800}, {0xDC00, u'a'}, u"\u0412\u0438\u0440", {0x015C}, {0x2F00}};
    for (const std::u16string& name : accepted) EXPECT_TRUE(Joinable(name));
    const std::u16string refused[] = {u"", u".", u"..", {0x001F}, {0x0000}};
    for (const std::u16string& name : refused) EXPECT_FALSE(Joinable(name));
    for (const char16_t forbidden : std::u16string(u"\\/:*?\"<>|")) {
        EXPECT_FALSE(Joinable(std::u16string{u'a', forbidden, u'b'})) << static_cast<int>(forbidden);
        EXPECT_FALSE(Joinable(std::string{'a', static_cast<char>(forbidden), 'b'})) << static_cast<int>(forbidden);
    }
    for (char16_t control = 1; control < 0x20; ++control) {
        EXPECT_FALSE(Joinable(std::u16string{u'n', control})) << static_cast<int>(control);
    }
    EXPECT_TRUE(Joinable(std::u16string{u'n', 0x20})) << "the first unit past the controls";
}

TEST(Wtf8Test, ADoubleByteCharacterIsCheckedWhole) {
    // Code page 932 spells one character as a lead byte (0x81-0x9F, 0xE0-0xFC)
    // and a trail byte that may equal a backslash's or a bar's.
    const auto shiftJisLead = [](uint32_t byte) { return (byte >= 0x81 && byte <= 0x9F) || (byte >= 0xE0 && byte <= 0xFC); };
    const std::string table = "\x95\x5C.exe";  // the character for "table"
    const std::string bar = "\x83\x7C";       // a katakana whose trail byte is '|'
    EXPECT_TRUE(IsJoinableName(table.data(), table.size(), shiftJisLead));
    EXPECT_TRUE(IsJoinableName(bar.data(), bar.size(), shiftJisLead));
    EXPECT_FALSE(Joinable(table)) << "without lead bytes, its trail byte reads as a separator";
    // A separator after a whole character, or a lead byte that ends the name,
    // is still refused or taken as it stands.
    const std::string thenSeparator = "\x95\x5C\\x";
    EXPECT_FALSE(IsJoinableName(thenSeparator.data(), thenSeparator.size(), shiftJisLead));
    const std::string leadAtEnd = "a\x95";
    EXPECT_TRUE(IsJoinableName(leadAtEnd.data(), leadAtEnd.size(), shiftJisLead));
    const std::string dots = "..";
    EXPECT_FALSE(IsJoinableName(dots.data(), dots.size(), shiftJisLead));
}

}  // namespace
