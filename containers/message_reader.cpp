// A single message (.eml, .nws): its text goes to the parser as it is read.
#include <memory>
#include <new>

#include "containers/mail_bounds.h"
#include "containers/mail_readers.h"
#include "containers/mime_parser.h"

ContainerOutcome ReadMessageFile(const ByteSource& source, ItemSink sink, void* context) {
    ContainerOutcome outcome;
    std::unique_ptr<MimeParser> parser(new (std::nothrow) MimeParser(sink, context));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[MailChunkBytes]);
    if (!parser || !buffer || !parser->Prepare()) {
        outcome.damaged = true;
        outcome.why = mail_why::NoMemory;
        return outcome;
    }
    parser->Begin(0);
    uint64_t offset = 0;
    while (offset < source.size) {
        const uint64_t left = source.size - offset;
        const uint32_t want = left < MailChunkBytes ? static_cast<uint32_t>(left) : MailChunkBytes;
        uint32_t got = source.readAt(source.context, offset, buffer.get(), want);
        if (got > want) got = 0;
        if (!parser->Feed(buffer.get(), got)) break;
        if (got < want) {
            outcome.damaged = true;
            outcome.where = offset + got;
            outcome.why = mail_why::ReadError;
            break;
        }
        offset += got;
    }
    parser->Finish();
    outcome.items = parser->items();
    outcome.notExamined = parser->notExamined();
    outcome.stopped = parser->stopped();
    return outcome;
}
