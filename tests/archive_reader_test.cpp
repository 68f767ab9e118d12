// The archive readers against archives written by tests/support from the
// formats' public descriptions: every entry comes out with exactly the bytes
// planted in it, a planted worm is named by detection, and damaged, hostile
// and oversized archives end bounded, saying why.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <string>
#include <vector>

#include "containers/archive.h"
#include "containers/archive_limits.h"
#include "containers/archive_texts.h"
#include "containers/inflate_entry.h"
#include "engine/detectors.h"
#include "tests/support/archive_samples.h"
#include "tests/support/synth.h"

namespace {

using synth::Bytes;
using synth::RarEntrySpec;
using synth::ZipEntrySpec;

// ------------------------------------------------------------ inputs

Bytes Text(size_t size, uint32_t seed) {
    synth::Rng rng(seed);
    Bytes text(size);
    for (uint8_t& c : text) c = static_cast<uint8_t>(rng.Below(10) == 0 ? '\n' : 'a' + rng.Below(26));
    return text;
}

// Random bytes repeated with a prime period: deflate finds the repeats
// fast, and a byte taken from a wrong offset shows.
Bytes Pattern(size_t size) {
    Bytes cycle(4093);
    synth::Rng(4093).Fill(cycle.data(), cycle.size());
    Bytes bytes(size);
    for (size_t i = 0; i < size; ++i) bytes[i] = cycle[i % cycle.size()];
    return bytes;
}

Bytes Head(const Bytes& bytes, size_t count) { return Bytes(bytes.begin(), bytes.begin() + static_cast<std::ptrdiff_t>(count)); }

Bytes Ascii(const char* text) { return Bytes(text, text + std::strlen(text)); }

const synth::Sample& Worm(int row) {
    static std::vector<synth::Sample> worms;
    if (worms.empty()) {
        for (int r = 0; r < synth::WormRowCount; ++r) worms.push_back(synth::MakeWormCopy(r, 9100u + static_cast<uint32_t>(r)));
    }
    return worms[static_cast<size_t>(row)];
}

const synth::Sample& Host() {
    static const synth::Sample host = synth::MakeElkernAB('A', 5, 4242);
    return host;
}

ZipEntrySpec Stored(const std::string& name, const Bytes& data) {
    ZipEntrySpec entry;
    entry.name = name;
    entry.data = data;
    return entry;
}

ZipEntrySpec Deflated(const std::string& name, const Bytes& data) {
    ZipEntrySpec entry = Stored(name, data);
    entry.method = synth::ZipMethodDeflated;
    return entry;
}

RarEntrySpec RarFile(const std::string& name, const Bytes& data) {
    RarEntrySpec entry;
    entry.name = name;
    entry.data = data;
    return entry;
}

// ------------------------------------------------------------ the sink

struct Seen {
    std::string name;
    Bytes data;  // empty unless the collector keeps data
    size_t size = 0;
    bool cut = false;
    bool crcMismatch = false;
    uint32_t depth = 0;
};

struct Collector {
    std::vector<Seen> items;
    size_t stopAfter = SIZE_MAX;
    bool keepData = true;
    size_t badItems = 0;  // items that break the interface's promises
};

bool Collect(void* context, const ContainedItem& item) {
    auto* collector = static_cast<Collector*>(context);
    const size_t nameLength = std::strlen(item.name);
    if (item.data == nullptr || item.size > ItemBound || nameLength > ItemTextBound ||
        item.depth >= MostArchiveDepth || item.message != 0 || item.subject[0] != '\0') {
        ++collector->badItems;
    }
    Seen seen;
    seen.name = item.name;
    if (collector->keepData) seen.data.assign(item.data, item.data + item.size);
    seen.size = item.size;
    seen.cut = item.cut;
    seen.crcMismatch = item.crcMismatch;
    seen.depth = item.depth;
    collector->items.push_back(seen);
    return collector->items.size() < collector->stopAfter;
}

ContainerOutcome Read(ContainerKind kind, const Bytes& bytes, uint64_t start, Collector* collector) {
    const MemoryBytes memory{bytes.data(), bytes.size()};
    const ByteSource source = MemorySource(&memory);
    return ReadArchive(kind, source, start, Collect, collector);
}

// ------------------------------------------------------------ the scenarios

struct Want {
    std::string name;
    Bytes data;  // the whole entry: the item holds its first ItemBound bytes
    uint32_t depth = 0;
    bool crcMismatch = false;
    std::string threat;  // what detection names in the item, if anything
};

struct Case {
    std::string label;
    ContainerKind kind = ContainerKind::Zip;
    Bytes archive;
    uint64_t start = 0;
    std::vector<Want> items;
    bool damaged = false;
    const char* why = "";
    uint64_t where = UINT64_MAX;  // checked unless UINT64_MAX
    uint32_t notExamined = 0;
    size_t stopAfter = SIZE_MAX;
};

Case Named(const std::string& label) {
    Case c;
    c.label = label;
    return c;
}

Want Item(const std::string& name, const Bytes& data, uint32_t depth = 0) {
    Want want;
    want.name = name;
    want.data = data;
    want.depth = depth;
    return want;
}

Want WormItem(const std::string& name, int row, uint32_t depth = 0) {
    Want want = Item(name, Worm(row).bytes, depth);
    want.threat = Worm(row).threat;
    return want;
}

std::vector<Case> ZipCases() {
    std::vector<Case> cases;
    const Bytes note = Text(700, 1);
    const Bytes readme = Text(5000, 2);
    {
        Case c = Named("stored worm");
        c.archive = synth::MakeZip({Stored("KLEZ.EXE", Worm(0).bytes)});
        c.items = {WormItem("KLEZ.EXE", 0)};
        cases.push_back(c);
    }
    {
        Case c = Named("deflated worm beside a text");
        c.archive = synth::MakeZip({Deflated("setup.exe", Worm(5).bytes), Deflated("leeme.txt", readme)});
        c.items = {WormItem("setup.exe", 5), Item("leeme.txt", readme)};
        cases.push_back(c);
    }
    {
        Case c = Named("infected host in a zip inside a zip");
        const Bytes inner = synth::MakeZip({Deflated("juegos\\setup.exe", Host().bytes)});
        c.archive = synth::MakeZip({Deflated("juegos.zip", inner), Stored("nota.txt", note)});
        Want host = Item("juegos.zip > juegos\\setup.exe", Host().bytes, 1);
        host.threat = Host().threat;
        c.items = {Item("juegos.zip", inner), host, Item("nota.txt", note)};
        cases.push_back(c);
    }
    {
        // Three archive levels in all are read; a fourth is handed over
        // but not read.
        const Bytes z4 = synth::MakeZip({Stored("w.exe", Worm(1).bytes)});
        const Bytes z3 = synth::MakeZip({Deflated("c.zip", z4)});
        const Bytes z2 = synth::MakeZip({Stored("b.zip", z3)});
        Case three = Named("worm three archive levels deep");
        three.archive = synth::MakeZip({Deflated("b.zip", z3)});
        three.items = {Item("b.zip", z3), Item("b.zip > c.zip", z4, 1), WormItem("b.zip > c.zip > w.exe", 1, 2)};
        cases.push_back(three);
        Case four = Named("worm four archive levels deep");
        four.archive = synth::MakeZip({Deflated("a.zip", z2)});
        four.items = {Item("a.zip", z2), Item("a.zip > b.zip", z3, 1), Item("a.zip > b.zip > c.zip", z4, 2)};
        four.notExamined = 1;
        four.why = archive_why::TooDeep;
        four.where = 0;
        cases.push_back(four);
    }
    {
        Case c = Named("encrypted and unknown methods are not examined");
        ZipEntrySpec locked = Stored("privado.exe", Worm(2).bytes);
        locked.flags = 0x0001;
        ZipEntrySpec bzip = Stored("otro.exe", Worm(2).bytes);
        bzip.method = 12;
        c.archive = synth::MakeZip({locked, bzip, Deflated("nota.txt", note)});
        c.items = {Item("nota.txt", note)};
        c.notExamined = 2;
        cases.push_back(c);
    }
    {
        Case c = Named("CRC mismatches, stored and deflated");
        ZipEntrySpec stored = Stored("a.exe", Worm(3).bytes);
        stored.badCrc = true;
        ZipEntrySpec deflated = Deflated("b.txt", readme);
        deflated.badCrc = true;
        c.archive = synth::MakeZip({stored, deflated, Stored("c.txt", note)});
        Want a = WormItem("a.exe", 3);
        a.crcMismatch = true;
        Want b = Item("b.txt", readme);
        b.crcMismatch = true;
        c.items = {a, b, Item("c.txt", note)};
        cases.push_back(c);
    }
    {
        Case c = Named("ZIP64 sizes and end records");
        ZipEntrySpec stored = Stored("big.exe", Worm(4).bytes);
        stored.zip64 = true;
        ZipEntrySpec deflated = Deflated("big.txt", readme);
        deflated.zip64 = true;
        synth::ZipOptions options;
        options.zip64End = true;
        c.archive = synth::MakeZip({stored, deflated}, options);
        c.items = {WormItem("big.exe", 4), Item("big.txt", readme)};
        cases.push_back(c);
    }
    {
        Case c = Named("data descriptors, directories skipped");
        ZipEntrySpec worm = Deflated("dir/w.exe", Worm(6).bytes);
        worm.flags = 0x0008;
        ZipEntrySpec text = Deflated("dir/t.txt", note);
        text.flags = 0x0008;
        text.zip64 = true;
        c.archive = synth::MakeZip({Stored("dir/", {}), worm, text, Stored("vacio.txt", {})});
        c.items = {WormItem("dir/w.exe", 6), Item("dir/t.txt", note), Item("vacio.txt", {})};
        cases.push_back(c);
    }
    {
        Case c = Named("names: code page, UTF-8, hostile ones kept as data");
        ZipEntrySpec utf8 = Stored("caf\xC3\xA9.txt", note);
        utf8.flags = 0x0800;
        ZipEntrySpec broken = Stored("mal\xFF.txt", note);
        broken.flags = 0x0800;
        c.archive = synth::MakeZip({Stored("MEN\x9A.EXE", note), utf8, broken, Stored("../..\\C:\x01x.exe", note),
                                    Stored(std::string(300, '\x82'), note)});
        std::string cut;
        for (int i = 0; i < 127; ++i) cut += "\xC3\xA9";  // 254 bytes: a 128th would pass 255
        c.items = {Item("MEN\xC3\x9C.EXE", note), Item("caf\xC3\xA9.txt", note), Item("mal\xEF\xBF\xBD.txt", note),
                   Item("../..\\C:\x01x.exe", note), Item(cut, note)};
        cases.push_back(c);
    }
    {
        Case c = Named("an empty archive is its end record");
        c.archive = synth::MakeZip({});
        cases.push_back(c);
    }
    {
        // An entry exactly ItemBound long is whole; one byte more is cut.
        const Bytes exact = Pattern(ItemBound);
        const Bytes over = Pattern(ItemBound + 1);
        Case c = Named("items at the bound and one byte past it");
        ZipEntrySpec flushed = Deflated("d1", exact);
        flushed.emptyBlockLast = true;
        c.archive = synth::MakeZip({Stored("s1", exact), Stored("s2", over), flushed, Deflated("d2", over)});
        c.items = {Item("s1", exact), Item("s2", over), Item("d1", exact), Item("d2", over)};
        cases.push_back(c);
    }
    return cases;
}

std::vector<Case> DamagedZipCases() {
    std::vector<Case> cases;
    const Bytes note = Text(900, 3);
    const Bytes readme = Text(6000, 4);
    synth::ZipLayout layout;
    const std::vector<ZipEntrySpec> three = {Stored("a.exe", Worm(0).bytes), Deflated("b.txt", readme),
                                             Stored("c.txt", note)};
    const Bytes whole = synth::MakeZip(three, {}, &layout);
    const std::vector<Want> all = {WormItem("a.exe", 0), Item("b.txt", readme), Item("c.txt", note)};
    {
        Case c = Named("central directory cut short: the local headers are walked");
        c.archive = Head(whole, layout.directory + 60);
        c.items = all;
        c.damaged = true;
        c.why = archive_why::NoEndRecord;
        c.where = c.archive.size();
        cases.push_back(c);
    }
    {
        Case c = Named("central directory outside the file: the local headers are walked");
        c.archive = whole;
        synth::PutLe32(c.archive, layout.end + 16, 0x7FFFFF00u);
        c.items = all;
        c.damaged = true;
        c.why = archive_why::DirectoryOutside;
        c.where = layout.end;
        cases.push_back(c);
    }
    {
        Case c = Named("central directory claims more entries than it holds");
        c.archive = whole;
        synth::PutLe16(c.archive, layout.end + 8, 5);
        synth::PutLe16(c.archive, layout.end + 10, 5);
        c.items = all;
        c.damaged = true;
        c.why = archive_why::DirectoryBroken;
        c.where = layout.end;
        cases.push_back(c);
    }
    {
        Case c = Named("a local header that disagrees is not read, the next one is");
        c.archive = whole;
        c.archive[layout.locals[1] + 30] ^= 0x20;  // the local name's first byte
        c.items = {all[0], all[2]};
        c.damaged = true;
        c.why = archive_why::LocalMismatch;
        c.where = layout.locals[1];
        c.notExamined = 1;
        cases.push_back(c);
    }
    {
        // Without a central directory, a deflated entry of unknown size
        // ends where its stream does; its descriptor gives the CRC.
        ZipEntrySpec worm = Deflated("w.exe", Worm(2).bytes);
        worm.flags = 0x0008;
        ZipEntrySpec text = Deflated("t.txt", readme);
        text.flags = 0x0008;
        text.badCrc = true;
        synth::ZipLayout cutLayout;
        const Bytes archive = synth::MakeZip({worm, text, Stored("n.txt", note)}, {}, &cutLayout);
        Case c = Named("descriptors found by inflating, without a central directory");
        c.archive = Head(archive, cutLayout.directory);
        Want bad = Item("t.txt", readme);
        bad.crcMismatch = true;
        c.items = {WormItem("w.exe", 2), bad, Item("n.txt", note)};
        c.damaged = true;
        c.why = archive_why::NoEndRecord;
        cases.push_back(c);
    }
    {
        Case c = Named("a stored entry of unknown size ends the walk");
        ZipEntrySpec stored = Stored("s.txt", note);
        stored.flags = 0x0008;
        synth::ZipLayout cutLayout;
        const Bytes archive = synth::MakeZip({Stored("a.txt", note), stored, Stored("b.txt", note)}, {}, &cutLayout);
        c.archive = Head(archive, cutLayout.directory);
        c.items = {Item("a.txt", note)};
        c.damaged = true;
        c.why = archive_why::NoEndRecord;
        c.notExamined = 1;
        cases.push_back(c);
    }
    {
        Case c = Named("a deflated stream that breaks off");
        const Bytes archive = synth::MakeZip({Deflated("t.txt", readme)}, {}, &layout);
        // Half the stream, with the directory and end record moved up to
        // follow it and the sizes to match.
        const size_t dataAt = layout.locals[0] + 30 + 5;
        const auto keep = static_cast<uint32_t>((layout.directory - dataAt) / 2);
        c.archive = Head(archive, dataAt + keep);
        c.archive.insert(c.archive.end(), archive.begin() + static_cast<std::ptrdiff_t>(layout.directory),
                         archive.end());
        const size_t central = dataAt + keep;
        synth::PutLe32(c.archive, 18, keep);
        synth::PutLe32(c.archive, central + 20, keep);
        synth::PutLe32(c.archive, c.archive.size() - 22 + 16, static_cast<uint32_t>(central));
        c.damaged = true;
        c.why = archive_why::DeflateBroken;
        c.where = dataAt;
        cases.push_back(c);  // items checked below: a prefix of the text, marked
    }
    return cases;
}

std::vector<Case> RarCases() {
    std::vector<Case> cases;
    const Bytes note = Text(800, 5);
    for (const bool five : {false, true}) {
        const ContainerKind kind = five ? ContainerKind::Rar5 : ContainerKind::Rar4;
        auto make = [five](const std::vector<RarEntrySpec>& entries, const synth::RarOptions& options = {}) {
            return five ? synth::MakeRar5(entries, options) : synth::MakeRar4(entries, options);
        };
        const std::string tag = five ? "RAR5: " : "RAR 4: ";
        const std::string sep = five ? "/" : "\\";
        {
            Case c = Named(tag + "stored worm, directory skipped");
            c.kind = kind;
            RarEntrySpec folder = RarFile("juegos", {});
            folder.directory = true;
            c.archive = make({folder, RarFile("juegos" + sep + "KLEZ.EXE", Worm(3).bytes), RarFile("leeme.txt", note)});
            c.items = {WormItem("juegos" + sep + "KLEZ.EXE", 3), Item("leeme.txt", note)};
            cases.push_back(c);
        }
        {
            Case c = Named(tag + "compressed, encrypted and split entries are not examined");
            c.kind = kind;
            RarEntrySpec packed = RarFile("a.exe", Text(300, 6));
            packed.compressed = true;
            RarEntrySpec locked = RarFile("b.exe", Worm(1).bytes);
            locked.encrypted = true;
            RarEntrySpec before = RarFile("c.exe", note);
            before.fromPrevious = true;
            RarEntrySpec after = RarFile("d.exe", note);
            after.intoNext = true;
            c.archive = make({packed, locked, before, after, RarFile("e.exe", Worm(1).bytes)});
            c.items = {WormItem("e.exe", 1)};
            c.notExamined = 4;
            cases.push_back(c);
        }
        {
            Case c = Named(tag + "encrypted headers end the reading");
            c.kind = kind;
            synth::RarOptions options;
            options.encryptedHeaders = true;
            c.archive = make({RarFile("a.exe", Worm(1).bytes)}, options);
            c.notExamined = 1;
            c.why = archive_why::EncryptedHeaders;
            c.where = five ? 8 : 7;
            cases.push_back(c);
        }
        {
            Case c = Named(tag + "CRC mismatch");
            c.kind = kind;
            RarEntrySpec bad = RarFile("a.exe", Worm(2).bytes);
            bad.badCrc = true;
            c.archive = make({bad, RarFile("b.txt", note)});
            Want a = WormItem("a.exe", 2);
            a.crcMismatch = true;
            c.items = {a, Item("b.txt", note)};
            cases.push_back(c);
        }
        {
            Case c = Named(tag + "a self-extracting module in front");
            c.kind = kind;
            synth::RarOptions options;
            options.prefix = Text(1000, 7);
            c.archive = make({RarFile("w.exe", Worm(0).bytes)}, options);
            c.start = 1000;
            c.items = {WormItem("w.exe", 0)};
            cases.push_back(c);
        }
        {
            Case c = Named(tag + "data running past the end");
            c.kind = kind;
            const Bytes archive = make({RarFile("a.txt", note), RarFile("b.exe", Worm(4).bytes)});
            c.archive = Head(archive, archive.size() - 100);
            c.items = {Item("a.txt", note)};
            c.damaged = true;
            c.why = archive_why::DataOutside;
            c.notExamined = 1;
            cases.push_back(c);
        }
    }
    {
        Case c = Named("RAR 4: the name before its Unicode form, in the DOS code page");
        c.kind = ContainerKind::Rar4;
        RarEntrySpec named = RarFile("MEN\x9A.EXE", note);
        named.unicodeName = "\x01\x02\x03";
        c.archive = synth::MakeRar4({named, RarFile("caf\xC3\xA9", note)});
        c.items = {Item("MEN\xC3\x9C.EXE", note), Item("caf\xE2\x94\x9C\xE2\x8C\x90", note)};
        cases.push_back(c);
    }
    {
        Case c = Named("RAR 4: a file header with a wrong CRC is not read");
        c.kind = ContainerKind::Rar4;
        c.archive = synth::MakeRar4({RarFile("a.txt", note), RarFile("b.txt", note)});
        c.archive[7 + 13 + 32] ^= 0x01;  // the first file's name
        c.items = {Item("b.txt", note)};
        c.damaged = true;
        c.why = archive_why::HeaderCrc;
        c.where = 20;
        c.notExamined = 1;
        cases.push_back(c);
    }
    {
        Case c = Named("RAR5: a header with a wrong CRC ends the reading");
        c.kind = ContainerKind::Rar5;
        c.archive = synth::MakeRar5({RarFile("a.txt", note), RarFile("b.txt", note)});
        c.archive[8 + 4 + 1 + 3 + 6] ^= 0x01;  // inside the first file header
        c.damaged = true;
        c.why = archive_why::HeaderCrc;
        c.where = 8 + 8;
        cases.push_back(c);
    }
    return cases;
}

void RunCase(const Case& c) {
    SCOPED_TRACE(c.label);
    Collector collector;
    collector.stopAfter = c.stopAfter;
    const ContainerOutcome outcome = Read(c.kind, c.archive, c.start, &collector);
    EXPECT_EQ(outcome.damaged, c.damaged);
    EXPECT_STREQ(outcome.why, c.why);
    if (c.where != UINT64_MAX) {
        EXPECT_EQ(outcome.where, c.where);
    }
    EXPECT_EQ(outcome.notExamined, c.notExamined);
    EXPECT_FALSE(outcome.stopped);
    EXPECT_EQ(outcome.items, collector.items.size());
    EXPECT_EQ(collector.badItems, 0u);
    ASSERT_EQ(collector.items.size(), c.items.size());
    for (size_t i = 0; i < c.items.size(); ++i) {
        const Want& want = c.items[i];
        const Seen& seen = collector.items[i];
        SCOPED_TRACE(want.name);
        const size_t kept = std::min<size_t>(want.data.size(), ItemBound);
        EXPECT_EQ(seen.name, want.name);
        EXPECT_EQ(seen.depth, want.depth);
        EXPECT_EQ(seen.cut, want.data.size() > ItemBound);
        EXPECT_EQ(seen.crcMismatch, want.crcMismatch);
        ASSERT_EQ(seen.data.size(), kept);
        EXPECT_TRUE(std::equal(seen.data.begin(), seen.data.end(), want.data.begin()));
        FileCheckContext check;
        const Verdict verdict = DetectThreatInMemory(&check, seen.data.data(), seen.data.size());
        if (want.threat.empty()) {
            EXPECT_EQ(verdict, VerdictClean);
        } else {
            EXPECT_EQ(verdict, VerdictInfected);
            ASSERT_NE(check.threatName, nullptr);
            EXPECT_EQ(want.threat, check.threatName->text);
        }
    }
}

TEST(ArchiveRead, ZipScenarios) {
    for (const Case& c : ZipCases()) RunCase(c);
}

TEST(ArchiveRead, DamagedZipScenarios) {
    std::vector<Case> cases = DamagedZipCases();
    // The broken stream's item is a marked prefix of its text.
    const Case broken = cases.back();
    cases.pop_back();
    for (const Case& c : cases) RunCase(c);

    SCOPED_TRACE(broken.label);
    Collector collector;
    const ContainerOutcome outcome = Read(broken.kind, broken.archive, 0, &collector);
    EXPECT_TRUE(outcome.damaged);
    EXPECT_STREQ(outcome.why, broken.why);
    EXPECT_EQ(outcome.where, broken.where);
    ASSERT_EQ(collector.items.size(), 1u);
    const Bytes readme = Text(6000, 4);
    const Seen& seen = collector.items[0];
    EXPECT_TRUE(seen.crcMismatch);
    EXPECT_GT(seen.data.size(), 0u);
    EXPECT_LT(seen.data.size(), readme.size());
    EXPECT_TRUE(std::equal(seen.data.begin(), seen.data.end(), readme.begin()));
}

TEST(ArchiveRead, RarScenarios) {
    for (const Case& c : RarCases()) RunCase(c);
}

// The end record is found behind the longest comment it can carry, also
// where it starts before the last window that is searched.
TEST(ArchiveRead, EndRecordBehindTheLongestComment) {
    const Bytes note = Text(200, 11);
    for (const size_t length : {size_t{0}, size_t{65514}, size_t{65515}, size_t{65535}}) {
        SCOPED_TRACE(length);
        synth::ZipOptions options;
        options.comment = Text(length, 12);
        const Bytes archive = synth::MakeZip({Stored("a.exe", Worm(0).bytes), Stored("b.txt", note)}, options);
        Collector collector;
        const ContainerOutcome outcome = Read(ContainerKind::Zip, archive, 0, &collector);
        EXPECT_FALSE(outcome.damaged);
        ASSERT_EQ(collector.items.size(), 2u);
        EXPECT_EQ(collector.items[0].data, Worm(0).bytes);
        EXPECT_EQ(collector.items[1].data, note);
    }
}

// The sink's word ends the reading at once, at any depth.
TEST(ArchiveRead, SinkStops) {
    const Bytes note = Text(100, 8);
    const Bytes inner = synth::MakeZip({Stored("x.txt", note), Stored("y.txt", note)});
    const Bytes outer = synth::MakeZip({Stored("a.txt", note), Stored("in.zip", inner), Stored("b.txt", note)});
    struct Row {
        size_t stopAfter;
        std::vector<std::string> names;
    };
    const Row rows[] = {
        {1, {"a.txt"}},
        {3, {"a.txt", "in.zip", "in.zip > x.txt"}},
        {4, {"a.txt", "in.zip", "in.zip > x.txt", "in.zip > y.txt"}},
    };
    for (const Row& row : rows) {
        Collector collector;
        collector.stopAfter = row.stopAfter;
        const ContainerOutcome outcome = Read(ContainerKind::Zip, outer, 0, &collector);
        EXPECT_TRUE(outcome.stopped);
        EXPECT_EQ(outcome.items, row.stopAfter);
        std::vector<std::string> names;
        for (const Seen& seen : collector.items) names.push_back(seen.name);
        EXPECT_EQ(names, row.names);
    }
    Collector all;
    EXPECT_FALSE(Read(ContainerKind::Zip, outer, 0, &all).stopped);
    EXPECT_EQ(all.items.size(), 5u);
}

// ------------------------------------------------------------ recognition

TEST(ArchiveRecognize, MarksAndNearMisses) {
    struct Row {
        const char* label;
        Bytes head;
        ContainerKind kind;
    };
    Bytes emptyZip = synth::MakeZip({});
    Bytes random(4096);
    synth::Rng(77).Fill(random.data(), random.size());
    random[0] = 0x00;
    std::vector<Row> rows = {
        {"zip", synth::MakeZip({Stored("a", Ascii("x"))}), ContainerKind::Zip},
        {"empty zip", emptyZip, ContainerKind::Zip},
        {"empty zip cut", Head(emptyZip, emptyZip.size() - 1), ContainerKind::None},
        {"rar 4", synth::MakeRar4({}), ContainerKind::Rar4},
        {"rar5", synth::MakeRar5({}), ContainerKind::Rar5},
        {"zip mark cut", Ascii("PK\x03"), ContainerKind::None},
        {"spanned zip mark", Ascii("PK\x07\x08"), ContainerKind::None},
        {"rar mark cut", Bytes{0x52, 0x61, 0x72, 0x21, 0x1A, 0x07}, ContainerKind::None},
        {"rar version 2", Bytes{0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x02, 0x00}, ContainerKind::None},
        {"rar5 mark cut", Bytes{0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01}, ContainerKind::None},
        {"random bytes", random, ContainerKind::None},
        {"a program", synth::MakeCleanSample(5).bytes, ContainerKind::None},
        {"a worm", Worm(0).bytes, ContainerKind::None},
        {"empty", Bytes{}, ContainerKind::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const uint32_t length = static_cast<uint32_t>(std::min<size_t>(row.head.size(), 4096));
        EXPECT_EQ(RecognizeArchive(row.head.data(), length), row.kind);
    }
    EXPECT_EQ(RecognizeArchive(nullptr, 0), ContainerKind::None);
}

// A program followed by an archive, found within the window after it.
TEST(ArchiveAppended, FoundWithinTheWindowOnly) {
    const Bytes program = synth::MakeCleanSample(11).bytes;
    const Bytes note = Text(500, 9);
    const Bytes zip = synth::MakeZip({Stored("w.exe", Worm(6).bytes), Deflated("n.txt", note)});
    const Bytes rar4 = synth::MakeRar4({RarFile("w.exe", Worm(6).bytes)});
    const Bytes rar5 = synth::MakeRar5({RarFile("w.exe", Worm(6).bytes)});
    struct Row {
        const char* label;
        size_t padding;  // bytes between the program and the archive
        const Bytes* archive;
        ContainerKind kind;  // None: not found
    };
    const Row rows[] = {
        {"zip right after", 0, &zip, ContainerKind::Zip},
        {"rar 4 after padding", 512, &rar4, ContainerKind::Rar4},
        {"rar5 at the window's last place", AppendedArchiveWindow - 8, &rar5, ContainerKind::Rar5},
        {"rar5 one byte later", AppendedArchiveWindow - 7, &rar5, ContainerKind::None},
        {"zip at the window's last place", AppendedArchiveWindow - 4, &zip, ContainerKind::Zip},
        {"zip one byte later", AppendedArchiveWindow - 3, &zip, ContainerKind::None},
        {"padding only", 3000, nullptr, ContainerKind::None},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Bytes file = program;
        file.resize(program.size() + row.padding, 0);
        synth::Rng(row.padding).Fill(file.data() + program.size(), row.padding);
        if (row.archive != nullptr) file.insert(file.end(), row.archive->begin(), row.archive->end());
        const MemoryBytes memory{file.data(), file.size()};
        const ByteSource source = MemorySource(&memory);
        ContainerKind kind = ContainerKind::None;
        uint64_t start = 0;
        const bool found = FindAppendedArchive(source, program.size(), &kind, &start);
        EXPECT_EQ(found, row.kind != ContainerKind::None);
        if (!found) continue;
        EXPECT_EQ(kind, row.kind);
        EXPECT_EQ(start, program.size() + row.padding);
        Collector collector;
        const ContainerOutcome outcome = Read(kind, file, start, &collector);
        EXPECT_FALSE(outcome.damaged);
        ASSERT_GE(collector.items.size(), 1u);
        EXPECT_EQ(collector.items[0].data, Worm(6).bytes);
    }
    // Nothing after the program: nothing is read.
    const MemoryBytes memory{program.data(), program.size()};
    ContainerKind kind = ContainerKind::None;
    uint64_t start = 0;
    EXPECT_FALSE(FindAppendedArchive(MemorySource(&memory), program.size(), &kind, &start));
}

// A self-extracting ZIP records its offsets from the archive's start or the
// file's, ZIP64 end records included; either way its entries are found.
TEST(ArchiveAppended, ZipOffsetsFromEitherStart) {
    const Bytes program = synth::MakeCleanSample(12).bytes;
    const Bytes note = Text(300, 10);
    for (const int form : {0, 1, 2, 3}) {
        const bool fromFile = (form & 1) != 0;
        SCOPED_TRACE(fromFile ? "offsets from the file" : "offsets from the archive");
        SCOPED_TRACE(form >= 2 ? "ZIP64 end records" : "classic end record");
        synth::ZipOptions options;
        options.prefix = program;
        options.offsetsFromFile = fromFile;
        options.zip64End = form >= 2;
        const Bytes file = synth::MakeZip({Deflated("w.exe", Worm(5).bytes), Stored("n.txt", note)}, options);
        Collector collector;
        const ContainerOutcome outcome = Read(ContainerKind::Zip, file, program.size(), &collector);
        EXPECT_FALSE(outcome.damaged);
        ASSERT_EQ(collector.items.size(), 2u);
        EXPECT_EQ(collector.items[0].data, Worm(5).bytes);
        EXPECT_EQ(collector.items[1].data, note);
    }
}

// ------------------------------------------------------------ bounds

// Deflate gives at most about 1032 bytes a byte: the cap lets the densest
// stream through and ends one held to a lower ratio; output past the kept
// bytes is counted, not kept, and a stream cut short is broken.
TEST(ArchiveInflate, RatioKeepAndBrokenStreams) {
    const Bytes zeros(4u << 20, 0);
    const Bytes dense = synth::DeflateRaw(zeros);
    ASSERT_GT(zeros.size() / dense.size(), 1000u);
    struct Row {
        const char* label;
        size_t available;  // compressed bytes given
        uint32_t ratio;
        uint32_t keep;
        uint64_t mostOutput;
        bool ended, broken, tooDense;
        uint64_t produced;  // UINT64_MAX: not checked
    };
    const uint64_t all = zeros.size();
    const Row rows[] = {
        {"densest stream under the cap", dense.size(), MostInflateRatio, ItemBound, all + 1, true, false, false, all},
        {"held to 1000 bytes a byte", dense.size(), 1000, ItemBound, all + 1, false, false, true, UINT64_MAX},
        {"kept bytes end, output counted", dense.size(), MostInflateRatio, 4096, all + 1, true, false, false, all},
        {"output bounded", dense.size(), MostInflateRatio, 4096, 100000, false, false, false, 100000},
        {"stream cut short", dense.size() / 2, MostInflateRatio, ItemBound, all + 1, false, true, false, UINT64_MAX},
    };
    InflateStream* stream = OpenInflate();
    ASSERT_NE(stream, nullptr);
    std::vector<uint8_t> windowBuffer(ArchiveWindowBytes);
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        const MemoryBytes memory{dense.data(), dense.size()};
        const ByteSource source = MemorySource(&memory);
        SourceWindow window;
        window.source = &source;
        window.buffer = windowBuffer.data();
        ItemBuffer out;
        InflateRequest request;
        request.available = row.available;
        request.keep = row.keep;
        request.mostOutput = row.mostOutput;
        request.ratio = row.ratio;
        const InflateResult result = InflateEntry(stream, &window, request, &out);
        EXPECT_EQ(result.ended, row.ended);
        EXPECT_EQ(result.broken, row.broken);
        EXPECT_EQ(result.tooDense, row.tooDense);
        if (row.produced != UINT64_MAX) {
            EXPECT_EQ(result.produced, row.produced);
        }
        EXPECT_LE(result.produced, row.mostOutput);
        EXPECT_LE(result.kept, row.keep);
        EXPECT_LE(result.consumed, row.available);
        EXPECT_EQ(result.kept, std::min<uint64_t>(result.produced, row.keep));
        EXPECT_TRUE(std::all_of(out.data, out.data + result.kept, [](uint8_t b) { return b == 0; }));
        FreeItem(&out);
    }
    CloseInflate(stream);
}

// An archive decodes at most its own size and DecodedBytesAllowance, nested
// archives included; entries past that are counted, not read.
TEST(ArchiveBudget, FlatAndNestedBombsEndBounded) {
    const Bytes zeros(ItemBound, 0);
    ZipEntrySpec bomb;
    bomb.method = synth::ZipMethodDeflated;
    bomb.packed = synth::DeflateRaw(zeros);
    bomb.size = zeros.size();
    bomb.crc = synth::ArchiveCrc(zeros);
    auto entries = [&bomb](const char* stem, size_t count) {
        std::vector<ZipEntrySpec> list;
        for (size_t i = 0; i < count; ++i) {
            ZipEntrySpec entry = bomb;
            entry.name = stem + std::to_string(i);
            list.push_back(entry);
        }
        return list;
    };
    const Bytes flat = synth::MakeZip(entries("z", 40));
    const Bytes inner = synth::MakeZip(entries("z", 8));
    std::vector<ZipEntrySpec> nested;
    for (int i = 0; i < 6; ++i) nested.push_back(Stored("in" + std::to_string(i) + ".zip", inner));
    const Bytes outer = synth::MakeZip(nested);

    struct Row {
        const char* label;
        const Bytes* archive;
        size_t bombs;  // bomb entries in all
    };
    // One stored entry that forty central records name.
    synth::ZipLayout layout;
    const Bytes one = synth::MakeZip({Stored("o", zeros)}, {}, &layout);
    Bytes overlapping = Head(one, layout.directory);
    const Bytes central(one.begin() + static_cast<std::ptrdiff_t>(layout.directory),
                        one.begin() + static_cast<std::ptrdiff_t>(layout.end));
    for (int i = 0; i < 40; ++i) overlapping.insert(overlapping.end(), central.begin(), central.end());
    const size_t endAt = overlapping.size();
    overlapping.insert(overlapping.end(), one.begin() + static_cast<std::ptrdiff_t>(layout.end), one.end());
    synth::PutLe16(overlapping, endAt + 8, 40);
    synth::PutLe16(overlapping, endAt + 10, 40);
    synth::PutLe32(overlapping, endAt + 12, static_cast<uint32_t>(40 * central.size()));

    const Row rows[] = {{"flat", &flat, 40}, {"nested", &outer, 48}, {"overlapping", &overlapping, 40}};
    for (const Row& row : rows) {
        SCOPED_TRACE(row.label);
        Collector collector;
        collector.keepData = false;
        const ContainerOutcome outcome = Read(ContainerKind::Zip, *row.archive, 0, &collector);
        uint64_t decoded = 0;
        size_t bombsRead = 0;
        for (const Seen& seen : collector.items) {
            decoded += seen.size;
            if (seen.size == ItemBound) ++bombsRead;
            EXPECT_FALSE(seen.cut);
            EXPECT_FALSE(seen.crcMismatch);
        }
        const uint64_t budget = DecodedBytesAllowance + row.archive->size();
        EXPECT_LE(decoded, budget);
        EXPECT_GT(decoded + ItemBound, budget);  // nothing that fitted was left
        EXPECT_EQ(bombsRead + outcome.notExamined, row.bombs);
        EXPECT_LT(bombsRead, row.bombs);
        EXPECT_FALSE(outcome.damaged);
        EXPECT_STREQ(outcome.why, archive_why::Budget);
    }
}

}  // namespace
