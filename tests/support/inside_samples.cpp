#include "tests/support/inside_samples.h"

#include "tests/support/archive_samples.h"
#include "tests/support/mail_samples.h"

namespace synth {

namespace {

MailHeader Header(const std::string& subject) {
    MailHeader header;
    header.subject = subject;
    return header;
}

std::string CleanMessage(const std::string& subject, uint32_t seed) {
    MailAttachment attachment;
    attachment.bytes = MakeCleanSample(seed).bytes;
    attachment.contentType = "application/octet-stream; name=\"programa.exe\"";
    return MailMessage(Header(subject), MultipartPart("mixed", "limpio", {TextPart("text/plain", "Hola"),
                                                                          AttachmentPart(attachment)}));
}

ZipEntrySpec ZipEntry(const std::string& name, const Bytes& data, uint16_t method) {
    ZipEntrySpec entry;
    entry.name = name;
    entry.data = data;
    entry.method = method;
    return entry;
}

RarEntrySpec RarEntry(const std::string& name, const Bytes& data, bool compressed) {
    RarEntrySpec entry;
    entry.name = name;
    entry.data = data;
    entry.compressed = compressed;
    return entry;
}

}  // namespace

std::vector<InsideSample> BuildInsideSamples(uint32_t seed) {
    const auto worm = [&](int row, uint32_t salt) { return MakeWormCopy(row, SubSeed(seed, salt)).bytes; };
    std::vector<InsideSample> samples;
    samples.push_back({"Correo/how.eml",
                       ToBytes(WormStyleMessage(worm(6, 1), "Readme.pif", Header("how are you"))),
                       {"mensaje infectado: Win32.Klez.H@mm (how are you, 12/05/2002, Readme.pif)"}});
    // A subject in Cyrillic, as encoded words: the row carries it in UTF-8.
    samples.push_back({"Correo/Inbox",
                       MakeMbox({CleanMessage("Uno", SubSeed(seed, 2)),
                                 WormStyleMessage(worm(4, 3), "dos.pif", Header("=?utf-8?B?0J/RgNC40LLQtdGC?="))}),
                       {"mensaje infectado: Win32.Klez.E@mm (\xD0\x9F\xD1\x80\xD0\xB8\xD0\xB2\xD0\xB5\xD1\x82, "
                        "12/05/2002, dos.pif)"}});
    DbxOptions spread;
    spread.entriesPerNode = 2;
    samples.push_back({"Correo/Bandeja de entrada.dbx",
                       MakeDbx({CleanMessage("Uno", SubSeed(seed, 4)), CleanMessage("Dos", SubSeed(seed, 5)),
                                WormStyleMessage(worm(3, 6), "juego.exe", Header("Juego"))},
                               spread),
                       {"mensaje infectado: Win32.Klez.D@mm (Juego, 12/05/2002, juego.exe)"}});
    samples.push_back({"Archivos/juegos.zip",
                       MakeZip({ZipEntry("juegos\\setup.exe", worm(6, 7), ZipMethodStored),
                                ZipEntry("leeme.txt", ToBytes("Instrucciones"), ZipMethodDeflated),
                                ZipEntry("bin/host.exe", MakeElkernAB('B', 3, SubSeed(seed, 8)).bytes,
                                         ZipMethodDeflated)}),
                       {"contiene Win32.Klez.H@mm (juegos\\setup.exe)", "contiene Win32.Elkern.B (bin/host.exe)"}});
    samples.push_back({"Archivos/copias.rar",
                       MakeRar4({RarEntry("a.exe", worm(1, 9), false), RarEntry("b.exe", worm(1, 10), true)}),
                       {"contiene Win32.Klez.B@mm (a.exe)"}});
    samples.push_back({"Archivos/copias5.rar", MakeRar5({RarEntry("dir/c.exe", worm(0, 11), false)}),
                       {"contiene Win32.Klez.A@mm (dir/c.exe)"}});
    return samples;
}

std::vector<std::string> InsideReportLines() {
    return {"Mensajes infectados:\t3 (borrelos en el programa de correo, sin abrirlos ni verlos en la vista previa)",
            "Archivos comprimidos infectados:\t3 (borrelos, o quite la entrada infectada con el archivador)",
            "Entradas comprimidas sin examinar:\t1"};
}

}  // namespace synth
