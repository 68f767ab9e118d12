// The readers behind ReadMail, one for each kind of mail file, and what
// recognition and reading share.
#pragma once

#include <cstdint>
#include <memory>

#include "containers/contained.h"
#include "containers/mime_parser.h"

ContainerOutcome ReadDbx(const ByteSource& source, const MailTaker& taker);
ContainerOutcome ReadMbox(const ByteSource& source, const MailTaker& taker);
ContainerOutcome ReadMessageFile(const ByteSource& source, const MailTaker& taker);

// What the readers that go front to back (mbox, a single message) hold:
// the parser and one chunk of the file at a time.
struct MailStream {
    std::unique_ptr<MimeParser> parser;
    std::unique_ptr<uint8_t[]> buffer;  // MailChunkBytes
};
// False, the outcome saying that memory ran short, when either cannot be had.
bool OpenMailStream(const MailTaker& taker, MailStream* stream, ContainerOutcome* outcome);
// What the parser counted, into the outcome.
void CountMailStream(const MimeParser& parser, ContainerOutcome* outcome);

// An mbox separator's first line: "From <sender> " followed by what a
// postmark carries, a time (hh:mm) or a year. line: without its break.
bool LooksLikePostmark(const uint8_t* line, uint32_t length);

// What the readers say when they stop early.
namespace mail_why {
constexpr const char* BadHeader = "cabecera de carpeta danada";
constexpr const char* BadIndex = "indice de mensajes danado";
constexpr const char* BadMessageInfo = "ficha de mensaje danada";
constexpr const char* BadChain = "cadena de bloques danada";
constexpr const char* ChainLoop = "cadena de bloques en bucle";
constexpr const char* ReadError = "error de lectura";
constexpr const char* NoMemory = "memoria insuficiente";
}  // namespace mail_why
