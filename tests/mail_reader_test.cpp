// The mail readers: every attachment of every message of a single message,
// an mbox or an Outlook Express folder comes out with exactly the bytes
// that were planted, named, with its message's subject, date and number;
// damaged and hostile folders give what lay before the damage and say why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "containers/mail.h"
#include "containers/mail_bounds.h"
#include "containers/mime_parser.h"
#include "containers/transfer_decode.h"
#include "engine/check_context.h"
#include "engine/detectors.h"
#include "engine/threats.h"
#include "tests/support/mail_samples.h"
#include "tests/support/synth.h"

using synth::Bytes;
using synth::MailAttachment;
using synth::MailEncoding;
using synth::MailHeader;

namespace {

struct Got {
    Bytes data;
    bool cut = false;
    std::string name;
    std::string subject;
    std::string date;
    uint32_t message = 0;
};

struct Collector {
    std::vector<Got> items;
    size_t stopAfter = SIZE_MAX;
};

bool Collect(void* context, const ContainedItem& item) {
    auto* collector = static_cast<Collector*>(context);
    Got got;
    got.data.assign(item.data, item.data + item.size);
    got.cut = item.cut;
    got.name = item.name;
    got.subject = item.subject;
    got.date = item.date;
    got.message = item.message;
    collector->items.push_back(got);
    return collector->items.size() < collector->stopAfter;
}

ContainerOutcome Read(ContainerKind kind, const Bytes& file, Collector* collector, ItemReach reach = nullptr) {
    const MemoryBytes bytes{file.data(), file.size()};
    const ByteSource source = MemorySource(&bytes);
    return ReadMail(kind, source, Collect, collector, reach);
}

Bytes Noise(uint32_t seed, size_t size) {
    Bytes bytes(size);
    synth::Rng rng(seed);
    rng.Fill(bytes.data(), bytes.size());
    return bytes;
}

// Random bytes that begin as a program does, so that the readers decode
// them whole.
Bytes Blob(uint32_t seed, size_t size) {
    Bytes bytes = Noise(seed, size);
    if (size >= 1) bytes[0] = 'M';
    if (size >= 2) bytes[1] = 'Z';
    return bytes;
}

bool BeginsAsProgram(const Bytes& bytes) { return bytes.size() >= 2 && bytes[0] == 'M' && bytes[1] == 'Z'; }

// Bytes that look like what a raw part's lines are made of: line breaks of
// both kinds, dashes at line starts, a lone CR at the very end.
Bytes Awkward() {
    return synth::ToBytes("MZ\r\n--not-a-boundary\r\n\n-\r\n\r\n--bx\r\n--b--x\r\nend\r\nbegin 644 x\r\n\x01\x02\r");
}

MailAttachment Attached(const Bytes& bytes, const std::string& type, MailEncoding encoding,
                        const std::string& disposition = "") {
    MailAttachment attachment;
    attachment.bytes = bytes;
    attachment.contentType = type;
    attachment.encoding = encoding;
    attachment.disposition = disposition;
    return attachment;
}

std::string Part(const Bytes& bytes, const std::string& name, MailEncoding encoding = MailEncoding::Base64) {
    return synth::AttachmentPart(
        Attached(bytes, "application/octet-stream; name=\"" + name + "\"", encoding));
}

std::string Mixed(const std::vector<std::string>& parts, const std::string& boundary = "----=_NextPart_000") {
    return synth::MultipartPart("mixed", boundary, parts);
}

// depth multiparts inside one another (the message's own content counts as
// the first); the innermost holds inner, the one around it an attachment
// after it ("after.pif").
std::string Nested(uint32_t depth, const std::string& inner) {
    std::string part = inner;
    for (uint32_t level = depth; level >= 1; --level) {
        const std::string after = level == depth - 1 ? Part(Bytes{7, 7}, "after.pif") : std::string();
        std::vector<std::string> parts = {part};
        if (!after.empty()) parts.push_back(after);
        part = Mixed(parts, "lvl" + std::to_string(level));
    }
    return part;
}

struct Expected {
    std::string name;
    Bytes bytes;
    bool cut = false;
    uint32_t message = 0;
    size_t most = SIZE_MAX;  // bytes handed over of what does not begin as a program
};

// Planted bytes that begin as a program come out whole (or cut at
// ItemBound, as expected says); others of two bytes or more come out cut,
// as their first bytes.
void ExpectItems(const std::vector<Got>& got, const std::vector<Expected>& expected, const std::string& what) {
    ASSERT_EQ(got.size(), expected.size()) << what;
    for (size_t i = 0; i < got.size(); ++i) {
        const Bytes& planted = expected[i].bytes;
        EXPECT_EQ(got[i].name, expected[i].name) << what << ", item " << i;
        EXPECT_EQ(got[i].message, expected[i].message) << what << ", item " << i;
        if (BeginsAsProgram(planted) || planted.size() < 2) {
            EXPECT_TRUE(got[i].data == planted) << what << ", item " << i << ": " << got[i].data.size()
                                                << " bytes, planted " << planted.size();
            EXPECT_EQ(got[i].cut, expected[i].cut) << what << ", item " << i;
            continue;
        }
        EXPECT_TRUE(got[i].cut) << what << ", item " << i;
        EXPECT_GE(got[i].data.size(), 2u) << what << ", item " << i;
        EXPECT_LE(got[i].data.size(), std::min(planted.size(), expected[i].most)) << what << ", item " << i;
        EXPECT_TRUE(std::equal(got[i].data.begin(), got[i].data.end(), planted.begin(),
                               planted.begin() + static_cast<std::ptrdiff_t>(
                                                     std::min(got[i].data.size(), planted.size()))))
            << what << ", item " << i << ": not the planted bytes' start";
    }
}

// ------------------------------------------------------------ inside one message

struct MessageCase {
    std::string what;
    std::string message;  // CR LF text
    std::vector<Expected> items;
    uint32_t notExamined = 0;
};

std::vector<MessageCase> MessageCases() {
    const Bytes a = Blob(1, 5000);
    const Bytes b = Blob(2, 777);
    const Bytes c = Blob(3, 46);
    const MailHeader header;
    std::vector<MessageCase> cases;

    cases.push_back({"base64 named in the type, the worm's way", synth::WormStyleMessage(a, "Readme.pif", header),
                     {{"Readme.pif", a}}});
    cases.push_back({"quoted-printable named in the disposition",
                     synth::MailMessage(header, Mixed({synth::TextPart("text/plain", "hola\r\n"),
                                                       synth::AttachmentPart(Attached(
                                                           b, "application/octet-stream",
                                                           MailEncoding::QuotedPrintable,
                                                           "attachment;\r\n filename=\"doc.scr\""))})),
                     {{"doc.scr", b}}});
    cases.push_back({"x-uuencode without a MIME name takes the begin line's",
                     synth::MailMessage(header, Mixed({synth::AttachmentPart(
                                                    Attached(c, "application/octet-stream",
                                                             MailEncoding::Uuencode))})),
                     {{"file.bin", c}}});
    cases.push_back({"binary bytes full of line breaks and dashes",
                     synth::MailMessage(header, Mixed({Part(Awkward(), "raw.exe", MailEncoding::Binary),
                                                       Part(Awkward(), "raw2.exe", MailEncoding::Binary)},
                                                      "b")),
                     {{"raw.exe", Awkward()}, {"raw2.exe", Awkward()}}});
    cases.push_back({"uuencoded blocks in a plain text body",
                     synth::MailMessage(header, "Content-Type: text/plain\r\n\r\nMira esto:\r\n" +
                                                    synth::UuencodeBlock(b, "uno.exe") + "y esto\r\n\r\n" +
                                                    synth::UuencodeBlock(c, "dos.com") + "adios\r\n"),
                     {{"uno.exe", b}, {"dos.com", c}}});
    MailHeader inner;
    inner.subject = "inner subject";
    cases.push_back({"a forwarded message holds an attachment",
                     synth::MailMessage(header,
                                        Mixed({synth::TextPart("text/plain", "te reenvio\r\n"),
                                               synth::ForwardedPart(synth::MailMessage(
                                                   inner, Mixed({synth::TextPart("text/plain", "x\r\n"),
                                                                 Part(a, "inner.pif")},
                                                                "inner-boundary"))),
                                               Part(c, "outer.bat")})),
                     {{"inner.pif", a}, {"outer.bat", c}}});
    cases.push_back(
        {"nested multiparts whose boundaries begin alike",
         synth::MailMessage(
             header, Mixed({synth::MultipartPart(
                                "alternative", "=_b_2",
                                {synth::TextPart("text/plain", "t\r\n"),
                                 synth::MultipartPart("related", "=_b_2_3",
                                                      {synth::TextPart("text/html", "<p>\r\n"), Part(b, "r.scr")})}),
                            Part(c, "m.pif")},
                           "=_b")),
         {{"r.scr", b}, {"m.pif", c}}});
    cases.push_back({"a text part is an item only when it has a name",
                     synth::MailMessage(header, Mixed({synth::TextPart("text/plain", "cuerpo\r\n"),
                                                       synth::AttachmentPart(Attached(
                                                           b, "text/plain; name=\"notes.txt\"",
                                                           MailEncoding::QuotedPrintable))})),
                     {{"notes.txt", b}}});
    cases.push_back(
        {"RFC 2231 and RFC 2047 names",
         synth::MailMessage(
             header,
             Mixed({synth::AttachmentPart(Attached(c, "application/x-msdownload", MailEncoding::Base64,
                                                   "attachment; filename*=iso-8859-1''%E1rbol.pif")),
                    synth::AttachmentPart(Attached(c, "application/x-msdownload", MailEncoding::Base64,
                                                   "attachment; filename*0*=utf-8''%C3%B1a;\r\n filename*1=\".exe\"")),
                    synth::AttachmentPart(Attached(c, "application/x-msdownload;\r\n\tname=\r\n\t\"=?iso-8859-1?Q?"
                                                      "Se=F1or.scr?=\"",
                                                   MailEncoding::Base64))})),
         {{"\xC3\xA1rbol.pif", c}, {"\xC3\xB1" "a.exe", c}, {"Se\xC3\xB1or.scr", c}}});
    std::string garbled;
    for (const char ch : synth::Base64Lines(a)) {
        garbled += ch;
        if (ch == 'A') garbled += "!*\t \x01";  // not of the alphabet: passed over
        if (ch == 'Q') garbled += "-";
    }
    cases.push_back({"base64 with garbage between its characters",
                     synth::MailMessage(header, "Content-Type: application/octet-stream; name=g.exe\r\n"
                                                "Content-Transfer-Encoding: base64\r\n\r\n" + garbled),
                     {{"g.exe", a}}});
    cases.push_back({"nesting at the bound is read",
                     synth::MailMessage(header, Nested(MailNestingBound, Part(c, "deep.pif"))),
                     {{"deep.pif", c}, {"after.pif", Bytes{7, 7}}}});
    cases.push_back({"nesting past the bound is not examined, what follows it is",
                     synth::MailMessage(header, Nested(MailNestingBound + 1, Part(c, "deep.pif"))),
                     {{"after.pif", Bytes{7, 7}}},
                     1});
    std::string cutShort = synth::MailMessage(header, Mixed({Part(b, "last.pif")}));
    cutShort.resize(cutShort.find("\r\n------=_NextPart_000--"));
    cases.push_back({"a message that ends before its closing boundary", cutShort, {{"last.pif", b}}});
    const std::string longest(MailBoundaryBound, 'z');
    cases.push_back({"a boundary at the bound", synth::MailMessage(header, Mixed({Part(c, "z.pif")}, longest)),
                     {{"z.pif", c}}});
    cases.push_back({"a boundary past the bound",
                     synth::MailMessage(header, Mixed({Part(c, "z.pif")}, longest + "z")),
                     {},
                     1});
    const std::string forwarded = synth::MailMessage(inner, Mixed({Part(c, "x.pif")}));
    cases.push_back({"an encoded forwarded message is examined as a file",
                     synth::MailMessage(header, Mixed({"Content-Type: message/rfc822\r\n"
                                                       "Content-Transfer-Encoding: base64\r\n\r\n" +
                                                       synth::Base64Lines(synth::ToBytes(forwarded))})),
                     {{"", synth::ToBytes(forwarded)}}});
    cases.push_back({"a digest's parts are messages",
                     synth::MailMessage(header, synth::MultipartPart("digest", "dig", {"\r\n" + forwarded})),
                     {{"x.pif", c}}});
    cases.push_back({"a whole message that is one attachment, unfolded fields, unquoted boundary",
                     "Subject: Hola\r\nContent-Type: application/octet-stream;\r\n name=solo.exe\r\n"
                     "Content-Transfer-Encoding:\r\n base64\r\n\r\n" + synth::Base64Lines(b, 64),
                     {{"solo.exe", b}}});

    // Only what begins with "MZ" is decoded whole; anything else stops
    // after its first bytes (at most one short first slice, line or
    // uuencoded line of them), and what follows it is read as ever.
    Bytes notProgram = Noise(20, 5000);
    notProgram[0] = 'Z';
    const size_t first = 192;
    const struct {
        const char* what;
        MailEncoding encoding;
    } encodings[] = {{"base64", MailEncoding::Base64},
                     {"quoted-printable", MailEncoding::QuotedPrintable},
                     {"uuencode", MailEncoding::Uuencode}};
    for (const auto& e : encodings) {
        cases.push_back(
            {std::string("in ") + e.what + ", a program whole, the rest as far as its first bytes",
             synth::MailMessage(header, Mixed({Part(a, "p.exe", e.encoding), Part(notProgram, "d.doc", e.encoding),
                                               Part(Bytes{'M'}, "one.exe", e.encoding),
                                               Part(synth::ToBytes("MZ"), "mz.exe", e.encoding),
                                               Part(synth::ToBytes("MX"), "mx.exe", e.encoding),
                                               Part(c, "last.pif", e.encoding)})),
             {{"p.exe", a},
              {"d.doc", notProgram, true, 0, first},
              {"one.exe", Bytes{'M'}},
              {"mz.exe", synth::ToBytes("MZ")},
              {"mx.exe", synth::ToBytes("MX"), true, 0, 2},
              {"last.pif", c}}});
    }
    cases.push_back({"uuencoded blocks in a text body, a program whole, the rest as far as their first bytes",
                     synth::MailMessage(header, "Content-Type: text/plain\r\n\r\n" +
                                                    synth::UuencodeBlock(notProgram, "d.doc") + "texto\r\n" +
                                                    synth::UuencodeBlock(Bytes{'M'}, "one.exe") +
                                                    synth::UuencodeBlock(b, "p.exe")),
                     {{"d.doc", notProgram, true, 0, first}, {"one.exe", Bytes{'M'}}, {"p.exe", b}}});
    return cases;
}

TEST(MailMessage, EveryAttachmentComesOutAsPlanted) {
    for (const MessageCase& c : MessageCases()) {
        Collector collector;
        const ContainerOutcome outcome = Read(ContainerKind::MailMessage, synth::ToBytes(c.message), &collector);
        ExpectItems(collector.items, c.items, c.what);
        EXPECT_FALSE(outcome.damaged) << c.what;
        EXPECT_FALSE(outcome.stopped) << c.what;
        EXPECT_EQ(outcome.items, c.items.size()) << c.what;
        EXPECT_EQ(outcome.notExamined, c.notExamined) << c.what;
        for (const Got& got : collector.items) {
            EXPECT_EQ(got.subject, "Hola") << c.what;
            EXPECT_EQ(got.date, c.what.rfind("a whole message", 0) == 0 ? "" : "12/05/2002") << c.what;
        }
        // The same text in LF lines, as an mbox holds it, gives the same
        // items (binary bytes aside, whose line breaks are theirs).
        if (c.what.find("binary") == std::string::npos) {
            Collector lf;
            Read(ContainerKind::MailMessage, synth::ToBytes(synth::WithLf(c.message)), &lf);
            ExpectItems(lf.items, c.items, c.what + " (LF)");
        }
    }
}

// Pieces of any size, even one byte at a time, give what the whole gives.
TEST(MailMessage, PiecesOfAnySizeGiveTheSameItems) {
    for (const MessageCase& c : MessageCases()) {
        if (c.notExamined != 0 || c.items.empty()) continue;
        for (const size_t piece : {size_t{1}, size_t{2}, size_t{3}, size_t{7}, size_t{76}, size_t{4093}}) {
            Collector collector;
            MimeParser parser(Collect, &collector);
            ASSERT_TRUE(parser.Prepare());
            parser.Begin(5);
            const auto* text = reinterpret_cast<const uint8_t*>(c.message.data());
            for (size_t at = 0; at < c.message.size(); at += piece) {
                ASSERT_TRUE(parser.Feed(text + at, std::min(piece, c.message.size() - at)));
            }
            ASSERT_TRUE(parser.Finish());
            std::vector<Expected> expected = c.items;
            for (Expected& e : expected) e.message = 5;
            ExpectItems(collector.items, expected, c.what + " in pieces of " + std::to_string(piece));
        }
    }
}

// Base64 in any layout decodes to what its alphabet characters spell: lines
// of any length (whole groups or not, so that every way through the
// decoder is taken), either line break, characters outside the alphabet
// anywhere, pieces of any size.
TEST(MailMessage, Base64InAnyLayout) {
    const Bytes planted = Blob(14, 3001);
    const std::string plain = synth::Base64Lines(planted, SIZE_MAX);
    struct Layout {
        size_t line;
        std::string lineBreak;
        size_t garbageEvery;  // 0: none
        size_t piece;
    };
    const std::vector<Layout> layouts = {
        {76, "\r\n", 0, 1u << 20}, {76, "\n", 0, 1u << 20},  {64, "\r\n", 0, 1u << 20}, {16, "\n", 0, 1u << 20},
        {4, "\r\n", 0, 1u << 20},  {77, "\r\n", 0, 1u << 20}, {75, "\n", 0, 1u << 20},  {1, "\n", 0, 1u << 20},
        {76, "\r\n", 17, 1u << 20}, {76, "\r\n", 5, 1u << 20}, {1000, "\n", 64, 1u << 20},
        {76, "\r\n", 0, 7},       {76, "\r\n", 0, 33},      {77, "\n", 9, 31},
    };
    for (const Layout& layout : layouts) {
        std::string text;
        size_t column = 0;
        for (size_t i = 0; i < plain.size(); ++i) {
            if (layout.garbageEvery != 0 && i % layout.garbageEvery == layout.garbageEvery - 1) text += "* \t.";
            text += plain[i];
            if (++column == layout.line) {
                text += layout.lineBreak;
                column = 0;
            }
        }
        // Each call writes into exactly the room it asks for (ASan holds
        // it to that).
        Base64State state;
        Bytes out;
        for (size_t at = 0; at < text.size(); at += layout.piece) {
            const auto piece = static_cast<uint32_t>(std::min(layout.piece, text.size() - at));
            std::unique_ptr<uint8_t[]> room(new uint8_t[Base64Room(piece)]);
            const uint32_t size = DecodeBase64(&state, reinterpret_cast<const uint8_t*>(text.data()) + at, piece,
                                               room.get());
            out.insert(out.end(), room.get(), room.get() + size);
        }
        uint8_t last[3];
        out.insert(out.end(), last, last + FinishBase64(&state, last));
        EXPECT_TRUE(out == planted) << "lines of " << layout.line << ", garbage every " << layout.garbageEvery
                                    << ", pieces of " << layout.piece << ": " << out.size() << " bytes";
    }
}

// ------------------------------------------------------------ subject and date

struct TextCase {
    std::string raw;
    std::string shown;
};

TEST(MailMessage, SubjectsAreDecodedToValidUtf8) {
    const std::vector<TextCase> cases = {
        {"=?utf-8?B?w5FhbmTDug==?=", "\xC3\x91" "and\xC3\xBA"},
        {"=?ISO-8859-1?Q?Caf=E9_con_leche?=", "Caf\xC3\xA9 con leche"},
        {"Re: =?iso-8859-1?q?a?=  \t=?iso-8859-1?q?b?= c", "Re: ab c"},
        {"=?utf-8?Q?=C3?= =?utf-8?Q?=A1?=", "\xC3\xA1"},
        {"=?windows-1252?Q?=80_=93x=94?=", "\xE2\x82\xAC \xE2\x80\x9Cx\xE2\x80\x9D"},
        {"=?iso-8859-15?Q?=A4?=", "\xE2\x82\xAC"},
        {"=?utf-8*es?Q?=C3=B1?=", "\xC3\xB1"},
        {"=?koi8-r?Q?=C3=A1?=", "\xC3\xA1"},
        {"=?koi8-r?Q?=E1=E2?=", "??"},
        {"=?us-ascii?Q?a=E9?=", "a?"},
        {"=?utf-8?Q?a=00b?=", "a?b"},
        {"Se\xF1or", "Se\xC3\xB1or"},
        {"Se\xC3\xB1or", "Se\xC3\xB1or"},
        {"=?utf-8?X?abc?= =?utf-8?Q?abc", "=?utf-8?X?abc?= =?utf-8?Q?abc"},
        {std::string(ItemTextBound, 'a'), std::string(ItemTextBound, 'a')},
        {std::string(ItemTextBound + 1, 'a'), std::string(ItemTextBound, 'a')},
    };
    std::vector<TextCase> all = cases;
    std::string longAccents;
    for (int i = 0; i < 200; ++i) longAccents += "\xC3\xA1";
    all.push_back({longAccents, longAccents.substr(0, ItemTextBound - 1)});  // cut between characters
    for (const TextCase& c : all) {
        MailHeader header;
        header.subject = c.raw;
        Collector collector;
        Read(ContainerKind::MailMessage,
             synth::ToBytes(synth::WormStyleMessage(Bytes{1, 2, 3}, "x.pif", header)), &collector);
        ASSERT_EQ(collector.items.size(), 1u) << c.raw;
        EXPECT_EQ(collector.items[0].subject, c.shown) << c.raw;
        EXPECT_LE(collector.items[0].subject.size(), ItemTextBound) << c.raw;
    }
}

TEST(MailMessage, DatesAreShownAsDayMonthYear) {
    const std::vector<TextCase> cases = {
        {"Sun, 12 May 2002 10:20:30 +0200", "12/05/2002"},
        {"12 May 2002 10:20:30 GMT", "12/05/2002"},
        {"Sun, 5 May 02 10:20:30 -0700 (PDT)", "05/05/2002"},
        {"Wed, 1 Dec 99 10:00 EST", "01/12/1999"},
        {"Sun May 12 10:20:30 2002", "12/05/2002"},
        {"12-May-2002", "12/05/2002"},
        {"2002-05-12", "12/05/2002"},
        {"Thu, 31 JANUARY 2002", "31/01/2002"},
        {"32 May 2002", "32 May 2002"},
        {"  ma\xF1" "ana  ", "ma\xC3\xB1" "ana"},
        {"", ""},
    };
    for (const TextCase& c : cases) {
        MailHeader header;
        header.date = c.raw;
        Collector collector;
        Read(ContainerKind::MailMessage, synth::ToBytes(synth::WormStyleMessage(Bytes{9}, "x.pif", header)),
             &collector);
        ASSERT_EQ(collector.items.size(), 1u) << c.raw;
        EXPECT_EQ(collector.items[0].date, c.shown) << c.raw;
    }
}

// ------------------------------------------------------------ bounds

TEST(MailMessage, AnItemIsCutOnlyPastItsBound) {
    const Bytes big = Blob(4, ItemBound + 1);
    struct Case {
        size_t size;
        bool cut;
    };
    for (const Case c : {Case{ItemBound, false}, Case{ItemBound + 1, true}}) {
        const Bytes planted(big.begin(), big.begin() + static_cast<std::ptrdiff_t>(c.size));
        for (const MailEncoding encoding : {MailEncoding::Base64, MailEncoding::Binary}) {
            Collector collector;
            const ContainerOutcome outcome = Read(
                ContainerKind::MailMessage,
                synth::ToBytes(synth::MailMessage(MailHeader{}, Mixed({Part(planted, "big.exe", encoding)}))),
                &collector);
            const std::string what = std::to_string(c.size) + (encoding == MailEncoding::Binary ? " binary" : "");
            ASSERT_EQ(collector.items.size(), 1u) << what;
            const Got& got = collector.items[0];
            EXPECT_EQ(got.cut, c.cut) << what;
            ASSERT_EQ(got.data.size(), std::min(c.size, size_t{ItemBound})) << what;
            EXPECT_TRUE(std::equal(got.data.begin(), got.data.end(), planted.begin())) << what;
            EXPECT_FALSE(outcome.damaged) << what;
        }
    }
}

TEST(MailMessage, HeaderAndLineBounds) {
    const Bytes b = Blob(5, 3000);
    // The header block holds exactly MailHeaderBound bytes (fields without
    // their line breaks, one separator between two), the Content-Type last.
    const std::string first = "Content-Transfer-Encoding: base64";
    const std::string type = "Content-Type: application/octet-stream";
    const size_t padding = MailHeaderBound - first.size() - 1 - type.size() - 1 - std::string("X-Pad: ").size();
    for (const size_t extra : {size_t{0}, size_t{1}}) {
        const std::string message = first + "\r\nX-Pad: " + std::string(padding + extra, 'p') + "\r\n" + type +
                                    "\r\n\r\n" + synth::Base64Lines(b);
        Collector collector;
        Read(ContainerKind::MailMessage, synth::ToBytes(message), &collector);
        // Past the bound the type is not read: a text body, no item.
        EXPECT_EQ(collector.items.size(), extra == 0 ? 1u : 0u) << extra;
        if (extra == 0 && collector.items.size() == 1) {
            EXPECT_TRUE(collector.items[0].data == b);
        }
    }
    // A megabyte of base64 on one line, and a name on a line longer than
    // a line is held, come out whole.
    const Bytes huge = Blob(6, 1u << 20);
    const std::string longName = std::string(MailLineBound * 2, 'n') + ".exe";
    const std::string message =
        synth::MailMessage(MailHeader{}, Mixed({"Content-Type: application/octet-stream; name=one-line.exe\r\n"
                                                    "Content-Transfer-Encoding: base64\r\n\r\n" +
                                                    synth::Base64Lines(huge, SIZE_MAX),
                                                Part(b, longName)}));
    Collector collector;
    Read(ContainerKind::MailMessage, synth::ToBytes(message), &collector);
    ASSERT_EQ(collector.items.size(), 2u);
    EXPECT_TRUE(collector.items[0].data == huge);
    EXPECT_TRUE(collector.items[1].data == b);
    EXPECT_EQ(collector.items[1].name, longName.substr(0, ItemTextBound));
}

// ------------------------------------------------------------ mbox

TEST(MailMbox, SeparatorsAreThePostmarksAfterEmptyLines) {
    const Bytes a = Blob(7, 2000);
    const Bytes b = Blob(8, 300);
    const Bytes c = Blob(9, 90000);
    MailHeader h0, h1, h2, h3;
    h0.subject = "cero";
    h1.subject = "uno";
    h2.subject = "dos";
    h3.subject = "tres";
    h1.date = "Mon, 13 May 2002 08:00:00 +0000";
    const std::string tricky =
        "Content-Type: text/plain\r\n\r\nFrom me to you\r\n\r\nFrom me to you, nothing more\r\n"
        ">From someone Sun May 12 10:20:30 2002\r\n"
        "x\r\nFrom someone Sun May 12 10:20:30 2002\r\n";
    const std::vector<std::string> messages = {
        synth::WormStyleMessage(a, "a.pif", h0),
        synth::MailMessage(h1, Mixed({synth::TextPart("text/plain", "cuerpo\r\n\r\nFrom me to you\r\n"),
                                      Part(b, "b.scr")})),
        synth::MailMessage(h2, tricky),
        synth::MailMessage(h3, Mixed({Part(c, "c.exe"), Part(b, "d.exe")})),
    };
    for (const bool crlf : {false, true}) {
        Collector collector;
        const Bytes file = synth::MakeMbox(messages, crlf);
        ASSERT_EQ(RecognizeMail(file.data(), static_cast<uint32_t>(std::min<size_t>(file.size(), 4096))),
                  ContainerKind::Mbox);
        const ContainerOutcome outcome = Read(ContainerKind::Mbox, file, &collector);
        const std::string what = crlf ? "CR LF" : "LF";
        ExpectItems(collector.items, {{"a.pif", a, false, 0}, {"b.scr", b, false, 1}, {"c.exe", c, false, 3},
                                      {"d.exe", b, false, 3}},
                    what);
        ASSERT_EQ(collector.items.size(), 4u);
        EXPECT_EQ(collector.items[0].subject, "cero");
        EXPECT_EQ(collector.items[1].subject, "uno");
        EXPECT_EQ(collector.items[1].date, "13/05/2002");
        EXPECT_EQ(collector.items[3].subject, "tres");
        EXPECT_FALSE(outcome.damaged);
        EXPECT_EQ(outcome.items, 4u);
    }
}

// A postmark that straddles two reads of the file is found all the same.
TEST(MailMbox, PostmarksAcrossReads) {
    const Bytes small = Blob(10, 100);
    const Bytes large = Blob(12, 80000);
    const Bytes b = Blob(11, 100);
    const std::string second = synth::WithLf(synth::WormStyleMessage(b, "b.pif", MailHeader{}));
    const std::string prefix = "From sender0@example.com Sun May 12 10:20:30 2002\n";
    // The second postmark starts at target: after the first's line, the
    // first message (padded) and the empty line after it.
    auto message = [&](const Bytes& attachment, const std::string& subject) {
        MailHeader header;
        header.subject = subject;
        return synth::WithLf(synth::WormStyleMessage(attachment, "a.pif", header));
    };
    auto mbox = [&](std::string first, size_t target) {
        first += std::string(target - prefix.size() - 1 - first.size() - 1, 'x') + "\n";
        return synth::MakeMbox({first, second});
    };
    auto check = [&](const Bytes& file, const Bytes& attachment, size_t target, const std::string& what) {
        ASSERT_EQ(std::string(file.begin() + static_cast<std::ptrdiff_t>(target),
                              file.begin() + static_cast<std::ptrdiff_t>(target) + 5),
                  "From ")
            << what;
        Collector collector;
        Read(ContainerKind::Mbox, file, &collector);
        ExpectItems(collector.items, {{"a.pif", attachment, false, 0}, {"b.pif", b, false, 1}}, what);
    };
    for (const int shift : {-40, -6, -1, 0, 1, 3, 50}) {
        const size_t target = MailChunkBytes + static_cast<size_t>(shift + 64) - 64;
        check(mbox(message(small, "Hola"), target), small, target, "near the first read's end, " + std::to_string(target));
    }
    // A whole read of base64 (not a space in it) ending in the middle of
    // the postmark, whatever the first read left over: the subject's length
    // moves the base64 lines against the reads, a line is 77 bytes.
    for (size_t length = 1; length <= 77; ++length) {
        const std::string first = message(large, std::string(length, 's'));
        for (size_t target = 2 * MailChunkBytes - 12; target <= 2 * MailChunkBytes + 2; ++target) {
            check(mbox(first, target), large, target,
                  "subject of " + std::to_string(length) + ", postmark at " + std::to_string(target));
        }
    }
}

// ------------------------------------------------------------ Outlook Express

struct DbxCase {
    std::string what;
    uint32_t count;
    synth::DbxOptions options;
};

TEST(MailDbx, EveryIndexedMessageIsRead) {
    synth::DbxOptions manyNodes;
    manyNodes.entriesPerNode = 2;
    manyNodes.textPerBlock = 100;
    synth::DbxOptions scattered;
    scattered.entriesPerNode = 1;
    scattered.blocksBackwards = true;
    scattered.firstBlockInData = true;
    scattered.indexFirst = true;
    synth::DbxOptions withDeleted;
    withDeleted.deleted = {synth::WormStyleMessage(Blob(99, 500), "deleted.pif", MailHeader{})};
    const std::vector<DbxCase> cases = {
        {"one node, one block a message", 5, {}},
        {"many nodes, chains of many blocks", 23, manyNodes},
        {"one value a node, blocks backwards, first block in the data", 9, scattered},
        {"a deleted message is in no index", 3, withDeleted},
    };
    for (const DbxCase& c : cases) {
        std::vector<std::string> messages;
        std::vector<Expected> expected;
        for (uint32_t m = 0; m < c.count; ++m) {
            MailHeader header;
            header.subject = "mensaje " + std::to_string(m);
            const Bytes bytes = Blob(100 + m, 200 + 37 * m);
            // Every third message has no attachment: numbers still count it.
            if (m % 3 == 1) {
                messages.push_back(synth::MailMessage(header, synth::TextPart("text/plain", "solo texto\r\n")));
                continue;
            }
            const std::string name = "m" + std::to_string(m) + ".pif";
            messages.push_back(synth::WormStyleMessage(bytes, name, header));
            expected.push_back({name, bytes, false, m});
        }
        const Bytes file = synth::MakeDbx(messages, c.options);
        ASSERT_EQ(RecognizeMail(file.data(), 4096), ContainerKind::OutlookExpress) << c.what;
        Collector collector;
        const ContainerOutcome outcome = Read(ContainerKind::OutlookExpress, file, &collector);
        ExpectItems(collector.items, expected, c.what);
        for (const Got& got : collector.items) {
            EXPECT_EQ(got.subject, "mensaje " + std::to_string(got.message)) << c.what;
            EXPECT_EQ(got.date, "12/05/2002") << c.what;
        }
        EXPECT_FALSE(outcome.damaged) << c.what << ": " << outcome.why;
        EXPECT_EQ(outcome.items, expected.size()) << c.what;
    }
}

// A block past 16 MiB: its offset does not fit an index's three bytes and
// lies in the info's data instead.
TEST(MailDbx, MessagesPastSixteenMebibytes) {
    std::string line(76, 'x');
    line += "\r\n";
    std::string text;
    while (text.size() < (17u << 20)) text += line;
    const Bytes far = Blob(13, 4000);
    MailHeader header;
    header.subject = "lejos";
    const Bytes file = synth::MakeDbx({synth::MailMessage(MailHeader{}, synth::TextPart("text/plain", text)),
                                       synth::WormStyleMessage(far, "far.pif", header)});
    Collector collector;
    const ContainerOutcome outcome = Read(ContainerKind::OutlookExpress, file, &collector);
    EXPECT_FALSE(outcome.damaged) << outcome.why;
    ExpectItems(collector.items, {{"far.pif", far, false, 1}}, "past 16 MiB");
    ASSERT_EQ(collector.items.size(), 1u);
    EXPECT_EQ(collector.items[0].subject, "lejos");
}

// Damage anywhere: what lay before it comes out, the rest does not, and
// the outcome says where and why.
TEST(MailDbx, DamageEndsTheReadingWithWhatCameBefore) {
    std::vector<std::string> messages;
    std::vector<Bytes> planted;
    for (uint32_t m = 0; m < 4; ++m) {
        planted.push_back(Blob(200 + m, 3000));
        MailHeader header;
        messages.push_back(synth::WormStyleMessage(planted[m], "w" + std::to_string(m) + ".pif", header));
    }
    synth::DbxOptions options;
    options.textPerBlock = 0x100;
    options.indexFirst = true;
    options.entriesPerNode = 2;
    synth::DbxLayout layout;
    const Bytes sound = synth::MakeDbx(messages, options, &layout);
    const std::vector<uint32_t>& third = layout.blocks[2];
    // Damage from the eighth block on falls inside the third attachment.
    ASSERT_GE(third.size(), 12u);

    struct Case {
        std::string what;
        Bytes file;
        uint32_t whole;       // items that come out whole
        bool partial;         // and one more, the start of the next
        const char* why;
        uint64_t where;
    };
    auto with = [&](uint32_t offset, uint32_t value) {
        Bytes file = sound;
        synth::PutLe32(file, offset, value);
        return file;
    };
    const uint32_t size = static_cast<uint32_t>(sound.size());
    std::vector<Case> cases = {
        {"a chain that loops back to its start", with(third.back() + synth::DbxBlockNextField, third[0]), 3, false,
         "cadena de bloques en bucle", third[0]},
        {"a chain that loops back to its middle", with(third[8] + synth::DbxBlockNextField, third[2]), 2, true,
         "cadena de bloques en bucle", third[2]},
        {"a block pointer outside the file", with(third[7] + synth::DbxBlockNextField, size + 0x200), 2, true,
         "cadena de bloques danada", size + 0x200},
        {"a block that is not where it points", with(third[7] + synth::DbxBlockNextField, third[7] + 8), 2, true,
         "cadena de bloques danada", third[7] + 8},
        {"a block with more text than room", with(third[7] + 8, 0x201), 2, true, "cadena de bloques danada",
         third[7]},
        {"a node that is its own child", with(layout.root + synth::DbxNodeLeftChildField, layout.root), 0, false,
         "indice de mensajes danado", layout.root},
        {"a root outside the file", with(0xE4, size), 0, false, "indice de mensajes danado", size},
        // The last node holds the third message: two come before it.
        {"a message info outside the file", with(layout.nodes.back() + 0x18, size - 4), 2, false,
         "ficha de mensaje danada", size - 4},
        {"a header cut short", Bytes(sound.begin(), sound.begin() + 0x2000), 0, false,
         "cabecera de carpeta danada", 0},
    };
    Bytes truncated(sound.begin(), sound.begin() + third[7] + 100);
    cases.push_back({"a folder cut in a chain", truncated, 2, true, "cadena de bloques danada", third[7]});
    for (const Case& c : cases) {
        Collector collector;
        const ContainerOutcome outcome = Read(ContainerKind::OutlookExpress, c.file, &collector);
        EXPECT_TRUE(outcome.damaged) << c.what;
        EXPECT_STREQ(outcome.why, c.why) << c.what;
        EXPECT_EQ(outcome.where, c.where) << c.what;
        ASSERT_EQ(collector.items.size(), c.whole + (c.partial ? 1u : 0u)) << c.what;
        for (uint32_t i = 0; i < c.whole; ++i) EXPECT_TRUE(collector.items[i].data == planted[i]) << c.what;
        if (c.partial) {
            const Got& last = collector.items.back();
            EXPECT_LT(last.data.size(), planted[c.whole].size()) << c.what;
            EXPECT_TRUE(std::equal(last.data.begin(), last.data.end(), planted[c.whole].begin())) << c.what;
        }
    }
    // The header counts fewer messages than the index holds: no damage, and
    // only those it counts.
    Collector counted;
    const ContainerOutcome outcome = Read(ContainerKind::OutlookExpress, with(0xC4, 2), &counted);
    EXPECT_FALSE(outcome.damaged);
    EXPECT_EQ(counted.items.size(), 2u);
}

// ------------------------------------------------------------ all formats

// Recognition from the first bytes: mail of each kind, and what must never
// be taken for mail.
TEST(MailRecognize, MailAndNearMisses) {
    const std::string eml = synth::WormStyleMessage(Bytes{1}, "a.pif", MailHeader{});
    const Bytes dbx = synth::MakeDbx({eml});
    synth::DbxOptions folders;
    folders.folderList = true;
    struct Case {
        std::string what;
        Bytes head;
        ContainerKind kind;
    };
    const std::vector<Case> cases = {
        {"an Outlook Express folder", dbx, ContainerKind::OutlookExpress},
        {"Folders.dbx", synth::MakeDbx({eml}, folders), ContainerKind::None},
        {"an mbox", synth::MakeMbox({eml}), ContainerKind::Mbox},
        {"an Eudora mbox", synth::ToBytes("From ???@??? Sun Dec 08 11:37:53 2002\r\nReceived: x\r\n"),
         ContainerKind::Mbox},
        {"a message", synth::ToBytes(eml), ContainerKind::MailMessage},
        {"a news article", synth::ToBytes("Path: news!x\r\nNewsgroups: es.comp\r\nContent-Type: text/plain\r\n\r\n"),
         ContainerKind::MailMessage},
        {"\"From\" without a postmark", synth::ToBytes("From here on, all is text.\nSubject: x\n"),
         ContainerKind::None},
        {"a postmark without a message", synth::ToBytes("From a Sun May 12 10:20:30 2002\nno header here\n"),
         ContainerKind::None},
        {"header fields without MIME", synth::ToBytes("From: a\r\nSubject: b\r\n\r\nbody\r\n"), ContainerKind::None},
        {"MIME without a mail field", synth::ToBytes("Content-Type: text/plain\r\nMIME-Version: 1.0\r\n\r\nx\r\n"),
         ContainerKind::None},
        {"fields that never end in a short file",
         synth::ToBytes("Subject: a\r\nContent-Type: text/plain\r\n"), ContainerKind::None},
        {"a text with a colon", synth::ToBytes("Note: the meeting is at 10:30.\r\nContent-Type: none\r\n\r\n"),
         ContainerKind::None},
        {"a text", synth::MakeFile(synth::FileKind::Text, 4096, 3), ContainerKind::None},
        {"a program", synth::MakeWormCopy(0, 3).bytes, ContainerKind::None},
        {"random bytes", synth::MakeFile(synth::FileKind::Random, 4096, 4), ContainerKind::None},
        {"nothing", Bytes{}, ContainerKind::None},
    };
    for (const Case& c : cases) {
        const uint32_t length = static_cast<uint32_t>(std::min<size_t>(c.head.size(), 4096));
        EXPECT_EQ(RecognizeMail(c.head.data(), length), c.kind) << c.what;
    }
}

Bytes Folder(ContainerKind kind, const std::vector<std::string>& messages) {
    if (kind == ContainerKind::OutlookExpress) return synth::MakeDbx(messages);
    if (kind == ContainerKind::Mbox) return synth::MakeMbox(messages);
    return synth::ToBytes(messages[0]);
}

// What the scan will examine is the planted program itself, or as much of
// it as detection reads of it (the scan's reach): detection of the item
// names the threat of the worm copy or host that went in, also where a
// host's code lies far into the file, and nothing in a clean program.
TEST(MailAllFormats, PlantedThreatsAreFoundInTheItems) {
    struct Case {
        synth::Sample sample;
        ThreatName threat;
        bool decodedInPart;  // with the reach, the item surely comes cut, short of the whole
    };
    std::vector<Case> cases;
    for (int row = 0; row < synth::WormRowCount; row += 3) {
        cases.push_back({synth::MakeWormCopy(row, 40 + static_cast<uint32_t>(row)), KlezThreatNames[row], false});
    }
    cases.push_back({synth::MakeElkernAB('A', 3, 41), ElkernThreatA, false});
    cases.push_back({synth::MakeElkernC(true, 42), ElkernThreatC, false});
    synth::Sample distant = synth::MakeElkernAB('B', 5, 43);
    distant.bytes = synth::PushSectionsBack(distant.bytes, 64u << 10);
    cases.push_back({distant, ElkernThreatB, false});
    synth::Sample farther = synth::MakeElkernC(false, 44);
    farther.bytes = synth::PushSectionsBack(farther.bytes, 192u << 10);
    cases.push_back({farther, ElkernThreatC, false});
    synth::HostOptions padded;
    padded.minFileSize = 300000;
    cases.push_back({synth::MakeElkernAB('A', 6, 45, padded), ElkernThreatA, true});
    synth::Sample clean = synth::MakeCleanSample(46);
    clean.bytes = synth::MakeCleanHost(46, padded).bytes;
    cases.push_back({clean, nullptr, true});
    for (const ContainerKind kind : {ContainerKind::MailMessage, ContainerKind::Mbox, ContainerKind::OutlookExpress}) {
        for (const Case& c : cases) {
            for (const ItemReach reach : {ItemReach{nullptr}, ItemReach{DetectionReach}}) {
                const std::string what = c.sample.name + (reach != nullptr ? ", with the reach" : "");
                const Bytes folder = Folder(kind, {synth::WormStyleMessage(c.sample.bytes, "x.pif", MailHeader{})});
                Collector collector;
                Read(kind, folder, &collector, reach);
                ASSERT_EQ(collector.items.size(), 1u) << what;
                const Got& got = collector.items[0];
                ASSERT_LE(got.data.size(), c.sample.bytes.size()) << what;
                EXPECT_TRUE(std::equal(got.data.begin(), got.data.end(), c.sample.bytes.begin())) << what;
                EXPECT_EQ(got.cut, got.data.size() < c.sample.bytes.size()) << what;
                if (reach == nullptr || c.decodedInPart) {
                    EXPECT_EQ(got.cut, reach != nullptr) << what;
                }
                for (const Bytes* bytes : {&got.data, &c.sample.bytes}) {
                    FileCheckContext context;
                    context.path = "<item>";
                    EXPECT_EQ(DetectThreatInMemory(&context, bytes->data(), bytes->size()),
                              c.threat != nullptr ? VerdictInfected : VerdictClean) << what;
                    if (c.threat != nullptr) {
                        EXPECT_EQ(context.threatName, c.threat) << what;
                    }
                }
            }
        }
    }
}

// A reader asks the reach once the first 36 KiB are decoded, then again
// each time it has decoded as far as the reach last said, and hands the
// item over cut as soon as the reach is no further than what it has.
uint64_t fixedReach = 0;
uint64_t FixedReach(const uint8_t*, size_t) { return fixedReach; }

TEST(MailMessage, AnItemIsDecodedAsFarAsItsReach) {
    const Bytes planted = Blob(47, 100000);
    const uint64_t first = 36u << 10;
    const uint64_t whole = planted.size();
    // reach, then the fewest bytes handed over: a decoder may go past what
    // it was asked for by what one step produces (three bytes of base64, a
    // line of quoted-printable), never past the item.
    const std::pair<uint64_t, uint64_t> cases[] = {
        {1, first},  // enough at the first ask
        {first, first},
        {first + 1, first + 1},  // one ask more
        {70000, 70000},
        {whole - 1, whole - 1},
        {whole, whole},  // all of it, and said to be enough
        {whole + 1, whole},  // never enough: whole, not cut
    };
    for (const auto& [reach, fewest] : cases) {
        for (const auto& [encoding, slack] : {std::pair<MailEncoding, uint64_t>{MailEncoding::Base64, 3},
                                              {MailEncoding::QuotedPrintable, 80},
                                              {MailEncoding::Binary, 0}}) {
            const std::string what = std::to_string(reach) + ", encoding " + std::to_string(static_cast<int>(encoding));
            fixedReach = reach;
            Collector collector;
            Read(ContainerKind::MailMessage,
                 synth::ToBytes(synth::MailMessage(MailHeader{}, Mixed({Part(planted, "a.exe", encoding)}))),
                 &collector, FixedReach);
            ASSERT_EQ(collector.items.size(), 1u) << what;
            const Got& got = collector.items[0];
            EXPECT_GE(got.data.size(), fewest) << what;
            EXPECT_LE(got.data.size(), std::min(fewest + slack, whole)) << what;
            EXPECT_EQ(got.cut, reach <= whole) << what;
            EXPECT_TRUE(std::equal(got.data.begin(), got.data.end(), planted.begin())) << what;
        }
    }
}

// The sink's "stop" ends the reading at once, whatever the format.
TEST(MailAllFormats, TheSinkStopsTheReading) {
    std::vector<std::string> messages;
    for (uint32_t m = 0; m < 3; ++m) {
        messages.push_back(synth::MailMessage(MailHeader{}, Mixed({Part(Blob(m, 100), "a.pif"), Part(Blob(m, 50), "b.pif")})));
    }
    for (const ContainerKind kind : {ContainerKind::MailMessage, ContainerKind::Mbox, ContainerKind::OutlookExpress}) {
        for (const size_t stopAfter : {size_t{1}, size_t{2}, size_t{3}}) {
            const Bytes folder = Folder(kind, messages);
            Collector collector;
            collector.stopAfter = stopAfter;
            const ContainerOutcome outcome = Read(kind, folder, &collector);
            const size_t available = kind == ContainerKind::MailMessage ? 2 : 6;
            const bool stops = stopAfter <= available;
            EXPECT_EQ(collector.items.size(), std::min(stopAfter, available)) << static_cast<int>(kind);
            EXPECT_EQ(outcome.stopped, stops) << static_cast<int>(kind) << " " << stopAfter;
            EXPECT_EQ(outcome.items, collector.items.size()) << static_cast<int>(kind);
            EXPECT_FALSE(outcome.damaged);
        }
    }
}

}  // namespace
