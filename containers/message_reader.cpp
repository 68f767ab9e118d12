// A single message (.eml, .nws): its text goes to the parser as it is read;
// and the parser and chunk that it and the mbox reader read through.
#include <new>

#include "containers/mail_bounds.h"
#include "containers/mail_readers.h"
#include "containers/mime_parser.h"

bool OpenMailStream(const MailTaker& taker, MailStream* stream, ContainerOutcome* outcome) {
    stream->parser.reset(new (std::nothrow) MimeParser(taker));
    stream->buffer.reset(new (std::nothrow) uint8_t[MailChunkBytes]);
    if (stream->parser && stream->buffer && stream->parser->Prepare()) return true;
    outcome->damaged = true;
    outcome->why = mail_why::NoMemory;
    return false;
}

void CountMailStream(const MimeParser& parser, ContainerOutcome* outcome) {
    outcome->items = parser.items();
    outcome->notExamined = parser.notExamined();
    outcome->stopped = parser.stopped();
}

ContainerOutcome ReadMessageFile(const ByteSource& source, const MailTaker& taker) {
    ContainerOutcome outcome;
    MailStream stream;
    if (!OpenMailStream(taker, &stream, &outcome)) return outcome;
    MimeParser* const parser = stream.parser.get();
    uint8_t* const buffer = stream.buffer.get();
    parser->Begin(0);
    uint64_t offset = 0;
    while (offset < source.size) {
        const uint64_t left = source.size - offset;
        const uint32_t want = left < MailChunkBytes ? static_cast<uint32_t>(left) : MailChunkBytes;
        uint32_t got = source.readAt(source.context, offset, buffer, want);
        if (got > want) got = 0;
        if (!parser->Feed(buffer, got)) break;
        if (got < want) {
            outcome.damaged = true;
            outcome.where = offset + got;
            outcome.why = mail_why::ReadError;
            break;
        }
        offset += got;
    }
    parser->Finish();
    CountMailStream(*parser, &outcome);
    return outcome;
}
