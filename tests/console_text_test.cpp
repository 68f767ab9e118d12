// Where the command line's text may be cut: pieces of UTF-16 for a console
// never part a surrogate pair, and the shown tail of a long path on the
// progress line never begins inside a UTF-8 character.
#include <gtest/gtest.h>

#include <cstddef>
#include <string>

#include "cli/console_text.h"
#include "platform/wtf8.h"

#ifdef _WIN32
#include <windows.h>

#include "platform/code_page.h"
#include "platform/family.h"
#include "platform/seams.h"
#endif

namespace {

// U+1F600, one pair.
constexpr char16_t High = 0xD83D;
constexpr char16_t Low = 0xDE00;

}  // namespace

TEST(ConsoleText, PieceThatFitsIsTakenWhole) {
    const char16_t units[] = {u'a', u'b', u'c'};
    EXPECT_EQ(ConsolePieceEnd(units, 3, 3), 3u);  // at the limit
    EXPECT_EQ(ConsolePieceEnd(units, 3, 4), 3u);
    EXPECT_EQ(ConsolePieceEnd(units, 0, 4), 0u);
    EXPECT_EQ(ConsolePieceEnd(units, 3, 2), 2u);  // one past it: cut at the limit
}

TEST(ConsoleText, PieceNeverPartsAPair) {
    const char16_t across[] = {u'a', u'b', High, Low, u'c'};
    EXPECT_EQ(ConsolePieceEnd(across, 5, 3), 2u);  // the limit falls inside the pair
    EXPECT_EQ(ConsolePieceEnd(across, 5, 4), 4u);  // just past it: the pair is whole
    EXPECT_EQ(ConsolePieceEnd(across, 5, 2), 2u);  // just before it
    // A pair at the very start with a limit of one: the piece still moves on.
    const char16_t first[] = {High, Low, u'a'};
    EXPECT_EQ(ConsolePieceEnd(first, 3, 1), 1u);
    EXPECT_EQ(ConsolePieceEnd(first, 3, 2), 2u);
}

TEST(ConsoleText, LoneSurrogatesAreCutLikeAnyUnit) {
    // A high surrogate not followed by a low one pairs with nothing.
    const char16_t loneHigh[] = {u'a', High, u'b', u'c'};
    EXPECT_EQ(ConsolePieceEnd(loneHigh, 4, 2), 2u);
    const char16_t highHigh[] = {u'a', High, High, Low};
    EXPECT_EQ(ConsolePieceEnd(highHigh, 4, 2), 2u);
    EXPECT_EQ(ConsolePieceEnd(highHigh, 4, 3), 2u);  // the second high starts a pair
    const char16_t loneLow[] = {u'a', Low, u'b'};
    EXPECT_EQ(ConsolePieceEnd(loneLow, 3, 2), 2u);
}

// Cutting a long text into pieces and putting them together gives the text
// back, every pair whole in one piece, for every limit that can hold a pair
// (a limit of one unit has to part one to move on at all).
TEST(ConsoleText, PiecesCoverTheTextExactly) {
    const std::string text = "C:\\\xF0\x9F\x98\x80\xF0\x9F\x98\x80x\xD0\x94\xF0\x9F\x98\x80\xED\xA0\xBD";  // the last: a lone high surrogate
    char16_t units[32];
    const size_t count = DecodeWtf8(text.data(), text.size(), units, 32, false);
    ASSERT_EQ(count, 12u);
    for (size_t limit = 2; limit <= count + 1; ++limit) {
        std::u16string joined;
        for (size_t done = 0; done < count;) {
            const size_t end = ConsolePieceEnd(units + done, count - done, limit);
            ASSERT_GT(end, 0u);
            ASSERT_LE(end, limit);
            const char16_t last = units[done + end - 1];
            const bool endsOnHigh = last >= 0xD800 && last <= 0xDBFF;
            // Only the lone high surrogate at the text's end may close a piece.
            EXPECT_TRUE(!endsOnHigh || done + end == count) << "limit " << limit;
            joined.append(units + done, end);
            done += end;
        }
        EXPECT_EQ(joined, std::u16string(units, count)) << "limit " << limit;
    }
}

TEST(ConsoleText, ShownTailOfAShortTextIsAll) {
    const std::string text = "C:\\\xD0\x94";
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), text.size()), 0u);  // at the limit
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), text.size() + 1), 0u);
    EXPECT_EQ(ShownTailStart(text.data(), 0, 0), 0u);
}

TEST(ConsoleText, ShownTailBeginsWithAWholeCharacter) {
    // "ab" then U+0414 (2 bytes), U+4E2D (3 bytes), U+1F600 (4 bytes), "z".
    const std::string text = "ab\xD0\x94\xE4\xB8\xAD\xF0\x9F\x98\x80z";
    ASSERT_EQ(text.size(), 12u);
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 11), 1u);   // on an ASCII byte
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 10), 2u);   // on a lead byte
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 9), 4u);    // inside U+0414: past it
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 8), 4u);    // on the lead of U+4E2D
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 7), 7u);    // inside U+4E2D
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 6), 7u);
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 4), 11u);   // inside U+1F600: only "z"
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 2), 11u);
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 1), 11u);
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 0), 12u);   // nothing shown
    // The tail never reaches past the room it was given.
    for (size_t room = 0; room <= text.size(); ++room) {
        EXPECT_LE(text.size() - ShownTailStart(text.data(), text.size(), room), room);
    }
}

TEST(ConsoleText, ShownTailSkipsAtMostThreeStrayBytes) {
    // Not UTF-8: a run of continuation bytes is shown from its fourth on
    // rather than not at all.
    const std::string text = "a\x80\x81\x82\x83\x84";
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 5), 4u);
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 4), 5u);
    EXPECT_EQ(ShownTailStart(text.data(), text.size(), 2), 6u);  // past the end: nothing
}

#ifdef _WIN32
// A status holds subjects and names read inside mail, UTF-8: on the 95/98/Me
// family it reaches the streams in the code page (1252 here), what the code
// page lacks as '?'; on the NT family as it is.
TEST(ConsoleText, AStatusGoesThroughTheCodePageOnThe9xFamily) {
    ASSERT_EQ(GetACP(), 1252u);
    struct Case {
        PlatformFamily family;
        std::string status;
        std::string shown;
    };
    const std::string subject = "mensaje infectado: Win32.Klez.H@mm (cumplea\xC3\xB1os \xE6\xBC\xA2, 12/05/2002, a.pif)";
    const Case cases[] = {
        {FamilyNt, subject, subject},
        {FamilyWin9x, subject, "mensaje infectado: Win32.Klez.H@mm (cumplea\xF1os ?, 12/05/2002, a.pif)"},
        {FamilyWin9x, "eliminado", "eliminado"},
        {FamilyWin9x, "", ""},
        {FamilyWin9x, "\xFF a \xC3", "? a ?"},  // a byte UTF-8 never has; a cut sequence
    };
    for (const Case& c : cases) {
        seamPlatformFamily = c.family;
        std::string row = "path\t";
        AppendStatus(&row, c.status.c_str());
        EXPECT_EQ(row, "path\t" + c.shown) << c.status;
    }
    seamPlatformFamily = FamilyAuto;

    // The room a double-byte code page may need, and one byte less.
    char out[9] = "xxxxxxxx";
    EXPECT_TRUE(ToCodePage("\xC3\xB1\xC3\xB1", 4, out, 9));
    EXPECT_EQ(std::string(out), "\xF1\xF1");
    EXPECT_FALSE(ToCodePage("abcd", 4, out, 8));
    EXPECT_EQ(std::string(out), "\xF1\xF1") << "untouched when refused";
}
#endif
