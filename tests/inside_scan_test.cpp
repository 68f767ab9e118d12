// The scan of what lies inside mail folders and archives, end to end through
// the walk, the readers ahead of it and the report: one runner, each case a
// file planted alone in a folder, run in both modes and with one reader and
// many. Every case checks the file's rows exactly, the report's lines about
// what lies inside, and that the file is byte for byte as it was planted.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "adapters/seams.h"
#include "scan/read_ahead.h"

#include "scan/scan_state.h"
#include "scan/walk.h"
#include "tests/scan_fixture.h"
#include "tests/support/archive_samples.h"
#include "tests/support/mail_samples.h"
#include "tests/support/synth.h"

namespace {

using synth::Bytes;

struct InsideCase {
    const char* name;
    const char* file;
    Bytes bytes;
    std::vector<std::string> statuses;  // the file's rows, in order
    int messages = 0;                   // "Mensajes infectados:"
    int archives = 0;                   // "Archivos comprimidos infectados:"
    int notExamined = 0;                // "Entradas comprimidas sin examinar:"
    int warnings = 0;
};

Bytes Worm(int row, uint32_t seed) { return synth::MakeWormCopy(row, seed).bytes; }

synth::MailHeader Header(const std::string& subject) {
    synth::MailHeader header;
    header.subject = subject;
    return header;
}

std::string CleanMessage(const std::string& subject, uint32_t seed) {
    synth::MailAttachment attachment;
    attachment.bytes = synth::MakeCleanSample(seed).bytes;
    attachment.contentType = "application/octet-stream; name=\"setup.exe\"";
    return synth::MailMessage(Header(subject), synth::MultipartPart("mixed", "b1", {
        synth::TextPart("text/plain", "Hola"), synth::AttachmentPart(attachment)}));
}

// A worm one byte away from its checksum: no row anywhere.
Bytes NearMissWorm() {
    Bytes bytes = Worm(6, 77);
    bytes[synth::WormRegionOffset + 100] ^= 1;
    return bytes;
}

synth::ZipEntrySpec Entry(const std::string& name, const Bytes& data, uint16_t method = synth::ZipMethodStored) {
    synth::ZipEntrySpec entry;
    entry.name = name;
    entry.data = data;
    entry.method = method;
    return entry;
}

synth::RarEntrySpec RarEntry(const std::string& name, const Bytes& data, bool compressed = false) {
    synth::RarEntrySpec entry;
    entry.name = name;
    entry.data = data;
    entry.compressed = compressed;
    return entry;
}

std::vector<InsideCase> Cases() {
    const std::string klezH = "Win32.Klez.H@mm";
    const std::string mailMark = "mensaje infectado: ";
    std::vector<InsideCase> cases;

    cases.push_back({"a single message as the worm sends itself", "how.eml",
                     synth::ToBytes(synth::WormStyleMessage(Worm(6, 1), "Readme.pif", Header("how are you"))),
                     {mailMark + klezH + " (how are you, 12/05/2002, Readme.pif)"}, 1});

    cases.push_back({"a subject in encoded words, a control byte in the name", "cumple.nws",
                     synth::ToBytes(synth::WormStyleMessage(Worm(2, 2), "a\tb.scr",
                                                            Header("=?iso-8859-1?Q?Feliz_cumplea=F1os?="))),
                     {mailMark + "Win32.Klez.C@mm (Feliz cumplea\xC3\xB1os, 12/05/2002, a?b.scr)"}, 1});

    {
        // Three messages: two infected attachments in the second, none in
        // the first, one forwarded inside the third.
        synth::MailAttachment first, second;
        first.bytes = Worm(0, 3);
        first.contentType = "audio/x-wav; name=\"uno.exe\"";
        second.bytes = Worm(4, 4);
        second.contentType = "application/octet-stream";
        second.disposition = "attachment; filename=\"dos.pif\"";
        second.encoding = synth::MailEncoding::QuotedPrintable;
        const std::string two = synth::MailMessage(Header("Dos"), synth::MultipartPart("mixed", "b2", {
            synth::TextPart("text/plain", "From here on\r\n"), synth::AttachmentPart(first),
            synth::AttachmentPart(second)}));
        const std::string forwarded = synth::WormStyleMessage(Worm(5, 5), "tres.bat", Header("Interior"));
        const std::string three = synth::MailMessage(Header("Fwd"), synth::MultipartPart("mixed", "b3", {
            synth::TextPart("text/plain", "mira"), synth::ForwardedPart(forwarded)}));
        cases.push_back({"an mbox folder", "Inbox", synth::MakeMbox({CleanMessage("Uno", 6), two, three}),
                         {mailMark + "Win32.Klez.A@mm (Dos, 12/05/2002, uno.exe)",
                          mailMark + "Win32.Klez.E@mm (Dos, 12/05/2002, dos.pif)",
                          mailMark + "Win32.Klez.G@mm (Fwd, 12/05/2002, tres.bat)"},
                         2});
    }

    {
        synth::DbxOptions spread;
        spread.entriesPerNode = 1;
        spread.textPerBlock = 100;
        cases.push_back({"an Outlook Express folder", "Bandeja de entrada.dbx",
                         synth::MakeDbx({CleanMessage("Uno", 7),
                                         synth::WormStyleMessage(Worm(3, 8), "juego.exe", Header("Juego")),
                                         CleanMessage("Tres", 9)},
                                        spread),
                         {mailMark + "Win32.Klez.D@mm (Juego, 12/05/2002, juego.exe)"}, 1});
    }

    cases.push_back({"clean mail and a near miss", "Clean",
                     synth::MakeMbox({CleanMessage("Uno", 10),
                                      synth::WormStyleMessage(NearMissWorm(), "casi.exe", Header("Casi"))}),
                     {}});

    cases.push_back({"a warning in an attachment", "aviso.eml",
                     synth::ToBytes(synth::WormStyleMessage(
                         synth::MakeElkernC(true, 11, synth::CStretch::WrongCrc).bytes, "host.exe", Header("Aviso"))),
                     {"mensaje con advertencia: Win32.Elkern.C (Aviso, 12/05/2002, host.exe)"}, 0, 0, 0, 1});

    cases.push_back({"a stored worm and a deflated host in a ZIP", "juegos.zip",
                     synth::MakeZip({Entry("juegos\\setup.exe", Worm(6, 12)),
                                     Entry("leeme.txt", synth::ToBytes("hola"), synth::ZipMethodDeflated),
                                     Entry("bin/host.exe", synth::MakeElkernAB('B', 3, 13).bytes,
                                           synth::ZipMethodDeflated)}),
                     {"contiene " + klezH + " (juegos\\setup.exe)", "contiene Win32.Elkern.B (bin/host.exe)"},
                     0, 1});

    cases.push_back({"an infected host in a ZIP inside a ZIP", "outer.zip",
                     synth::MakeZip({Entry("inner.zip", synth::MakeZip({Entry("setup.exe",
                                         synth::MakeElkernAB('A', 1, 14).bytes, synth::ZipMethodDeflated)}),
                                           synth::ZipMethodDeflated)}),
                     {"contiene Win32.Elkern.A (inner.zip > setup.exe)"}, 0, 1});

    cases.push_back({"a RAR 4 worm and a compressed entry", "copias.rar",
                     synth::MakeRar4({RarEntry("a.exe", Worm(1, 15)), RarEntry("b.exe", Worm(1, 16), true)}),
                     {"contiene Win32.Klez.B@mm (a.exe)"}, 0, 1, 1});

    cases.push_back({"a RAR5 worm", "copias5.rar", synth::MakeRar5({RarEntry("dir/c.exe", Worm(6, 17))}),
                     {"contiene " + klezH + " (dir/c.exe)"}, 0, 1});

    {
        synth::ZipEntrySpec bad = Entry("clean.bin", synth::ToBytes("nothing to see"));
        bad.badCrc = true;
        cases.push_back({"an entry that fails its CRC", "crc.zip", synth::MakeZip({bad}),
                         {"entrada con CRC erroneo (clean.bin)"}});
    }

    {
        synth::ZipOptions sfx;
        sfx.prefix = synth::MakeCleanSample(18).bytes;
        cases.push_back({"a self-extracting archive", "instalar.exe",
                         synth::MakeZip({Entry("worm.exe", Worm(6, 19))}, sfx),
                         {"contiene " + klezH + " (worm.exe)"}, 0, 1});
    }

    {
        // Its code 192 KiB into the file: an attachment is decoded as far
        // as detection reads, and that is where it reads.
        synth::Sample distant = synth::MakeElkernC(false, 21);
        distant.bytes = synth::PushSectionsBack(distant.bytes, 192u << 10);
        cases.push_back({"a host whose code lies far into it", "lejos.eml",
                         synth::ToBytes(synth::WormStyleMessage(distant.bytes, "lejos.exe", Header("Lejos"))),
                         {mailMark + "Win32.Elkern.C (Lejos, 12/05/2002, lejos.exe)"}, 1});
    }

    cases.push_back({"clean archives and a near miss", "limpio.zip",
                     synth::MakeZip({Entry("casi.exe", NearMissWorm()),
                                     Entry("prog.exe", synth::MakeCleanSample(20).bytes, synth::ZipMethodDeflated)}),
                     {}});
    return cases;
}

class InsideScanTest : public ScanFolderTest {
protected:
    // The report line of label, or "" when the report has none.
    static std::string ReportValue(const std::string& label) {
        for (const recorder::Row& row : recorder::rows) {
            if (row.object == label) return row.status;
        }
        return "";
    }

    void Run(const InsideCase& c, bool detect, uint32_t readers) {
        SCOPED_TRACE(std::string(c.name) + (detect ? ", detect only" : ", disinfecting") + ", " +
                     std::to_string(readers) + " readers");
        recorder::Reset();
        ResetScanStatistics();
        detectOnly = detect;
        scanReaders = readers;
        Write(c.file, c.bytes);
        const std::string folder = Path();
        std::memcpy(SelectedFolder, folder.c_str(), folder.size() + 1);
        ScanWorker(nullptr);

        std::vector<std::string> statuses;
        for (const recorder::Row& row : recorder::rows) {
            if (row.object == Path(c.file)) statuses.push_back(row.status);
        }
        EXPECT_EQ(statuses, c.statuses) << recorder::Dump();
        const auto line = [](int count, const char* advice) {
            if (count == 0) return std::string();
            return std::to_string(count) + (advice != nullptr ? std::string(" (") + advice + ")" : "");
        };
        EXPECT_EQ(ReportValue("Mensajes infectados:"),
                  line(c.messages, "borrelos en el programa de correo, sin abrirlos ni verlos en la vista previa"));
        EXPECT_EQ(ReportValue("Archivos comprimidos infectados:"),
                  line(c.archives, "borrelos, o quite la entrada infectada con el archivador"));
        EXPECT_EQ(ReportValue("Entradas comprimidas sin examinar:"), line(c.notExamined, nullptr));
        EXPECT_EQ(ScanStatistics.warnings, c.warnings);
        // The file itself is neither infected nor changed, whatever it holds.
        EXPECT_EQ(ScanStatistics.infected, 0);
        EXPECT_EQ(ScanStatistics.files, 1);
        EXPECT_EQ(Read(c.file), c.bytes) << "the file was changed";
        EXPECT_TRUE(recorder::changes.empty()) << "something was saved to be changed";
        std::filesystem::remove(Path(c.file));
    }
};

TEST_F(InsideScanTest, EveryFindingInsideIsOneRowOfItsFileWhichStaysAsItWas) {
    for (const InsideCase& c : Cases()) {
        for (const bool detect : {false, true}) {
            for (const uint32_t readers : {1u, DefaultScanReaders}) Run(c, detect, readers);
        }
    }
}

TEST_F(InsideScanTest, InfectedMessagesAreCountedOncePerMessageAcrossFolders) {
    // Two folders, the same infected message in each: two messages; two
    // infected attachments in one message: one.
    synth::MailAttachment a, b;
    a.bytes = Worm(6, 30);
    a.contentType = "application/octet-stream; name=\"a.exe\"";
    b.bytes = Worm(6, 31);
    b.contentType = "application/octet-stream; name=\"b.exe\"";
    const std::string message = synth::MailMessage(Header("Ambos"), synth::MultipartPart("mixed", "bb", {
        synth::AttachmentPart(a), synth::AttachmentPart(b)}));
    Write("one.eml", synth::ToBytes(message));
    Write("two.eml", synth::ToBytes(message));
    const std::string folder = Path();
    std::memcpy(SelectedFolder, folder.c_str(), folder.size() + 1);
    ScanWorker(nullptr);
    EXPECT_EQ(ScanStatistics.infectedMessages, 2) << recorder::Dump();
    EXPECT_EQ(ReportValue("Infectado:"), "0");
}

#ifndef _WIN32
// Readers ahead record what they find inside a file whose own bytes are
// clean, and the handling reports that record without opening the file
// again; a file with more rows than a record keeps is read again by the
// handling. Either way the rows, their order and the counts are those of
// the sequential scan.
std::mutex aheadLock;
std::condition_variable aheadChanged;
std::map<std::string, int> opens;
int claimed = 0;

int CountOpen(const char* name) {
    std::lock_guard<std::mutex> lock(aheadLock);
    opens[name] += 1;
    return 0;
}

void NoteClaim(const char*) {
    std::lock_guard<std::mutex> lock(aheadLock);
    claimed += 1;
    aheadChanged.notify_all();
}

TEST_F(InsideScanTest, AReaderAheadReportsWhatItReadInsideAndTheFileIsReadOnce) {
    // Subjects of 200 bytes make rows of about 270: 130 infected messages
    // are more than a record keeps.
    std::vector<std::string> many;
    for (int i = 0; i < 130; ++i) {
        many.push_back(synth::WormStyleMessage(Worm(6, 80), "m.pif", Header(std::string(200, static_cast<char>('a' + i % 26)))));
    }
    synth::ZipEntrySpec bad = Entry("mal.txt", synth::ToBytes("x"));
    bad.badCrc = true;
    const std::map<std::string, std::pair<Bytes, int>> files = {
        {"uno.eml", {synth::ToBytes(synth::WormStyleMessage(Worm(1, 81), "a.exe", Header("Uno"))), 1}},
        {"dos.rar", {synth::MakeRar4({RarEntry("b.exe", Worm(2, 82)), RarEntry("c.exe", Worm(2, 83), true)}), 1}},
        {"tres.zip", {synth::MakeZip({bad, Entry("d.exe", synth::MakeElkernC(true, 84, synth::CStretch::WrongCrc).bytes)}), 1}},
        {"limpio.mbox", {synth::MakeMbox({CleanMessage("Nada", 85)}), 1}},
        {"muchos.mbox", {synth::MakeMbox(many), 2}},
    };
    std::vector<std::vector<recorder::Row>> rows;
    std::vector<std::vector<int32_t>> counts;
    for (const uint32_t readers : {1u, 4u}) {
        SCOPED_TRACE(readers);
        std::filesystem::remove_all(Path("t"));
        MakeFolder("t");
        for (const auto& [name, file] : files) Write("t/" + name, file.first);
        recorder::Reset();
        opens.clear();
        claimed = 0;
        seamOpenError = CountOpen;
        if (readers > 1) {
            // The handling enters the folder only once readers have taken
            // every file.
            seamReaderExamines = NoteClaim;
            recorder::onShow = [&files](const std::string&) {
                std::unique_lock<std::mutex> lock(aheadLock);
                aheadChanged.wait_for(lock, std::chrono::minutes(1), [&files] { return claimed == int(files.size()); });
            };
        }
        detectOnly = true;
        scanReaders = readers;
        ScanSingleFolder(Path("t").c_str());
        seamReaderExamines = nullptr;
        ResetSeams();
        recorder::onShow = nullptr;

        for (const auto& [name, file] : files) {
            EXPECT_EQ(opens[name], readers == 1 ? 1 : file.second) << name;
            EXPECT_EQ(Read("t/" + name), file.first) << name;
        }
        EXPECT_EQ(claimed, readers > 1 ? int(files.size()) : 0);
        rows.push_back(recorder::rows);
        const ScanCounters& c = ScanStatistics;
        counts.push_back({c.files, c.infected, c.warnings, c.infectedMessages, c.infectedArchives, c.notExamined});
    }
    EXPECT_EQ(rows[1], rows[0]) << recorder::Dump();
    EXPECT_EQ(counts[1], counts[0]);
    EXPECT_EQ(counts[0], (std::vector<int32_t>{5, 0, 1, 131, 1, 1}));
    EXPECT_EQ(rows[0].size(), 134u) << recorder::Dump();
}
#endif

}  // namespace
