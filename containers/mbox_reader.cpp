// mbox folders (Netscape, Mozilla, Thunderbird, Eudora): messages one after
// the other, each behind a "From " line. Such a line starts a message only
// at the start of the file or after an empty line, and only when it looks
// like a postmark; any other "From " line, and any ">From " line, is text
// of the message it is in. The file is read once, front to back, in chunks;
// everything between two separators goes to the parser as it is.
#include <cstring>
#include <memory>
#include <new>

#include "containers/mail_bounds.h"
#include "containers/mail_readers.h"
#include "containers/mime_parser.h"

namespace {

// A postmark's time or year lies within this many bytes of its start.
constexpr uint32_t PostmarkLook = 256;

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

bool IsEmptyLine(const uint8_t* line, size_t length) { return length == 0 || (length == 1 && line[0] == '\r'); }

}  // namespace

bool LooksLikePostmark(const uint8_t* line, uint32_t length) {
    if (length > PostmarkLook) length = PostmarkLook;
    if (length < 5 || std::memcmp(line, "From ", 5) != 0) return false;
    uint32_t at = 5;
    const uint32_t senderStart = at;
    while (at < length && line[at] != ' ' && line[at] != '\t') ++at;
    if (at == senderStart || at == length) return false;
    for (uint32_t i = at; i < length; ++i) {
        // hh:mm (the hour may have one digit)
        if (line[i] == ':' && i >= 1 && IsDigit(line[i - 1]) && i + 2 < length && IsDigit(line[i + 1]) &&
            IsDigit(line[i + 2])) {
            return true;
        }
        // a year, as a word of its own
        if (i + 4 <= length && IsDigit(line[i]) && IsDigit(line[i + 1]) && IsDigit(line[i + 2]) &&
            IsDigit(line[i + 3]) && !IsDigit(line[i - 1]) && (i + 4 == length || !IsDigit(line[i + 4]))) {
            const uint32_t year = static_cast<uint32_t>((line[i] - '0') * 1000 + (line[i + 1] - '0') * 100 +
                                                        (line[i + 2] - '0') * 10 + (line[i + 3] - '0'));
            if (year >= 1970 && year <= 2099) return true;
        }
    }
    return false;
}

ContainerOutcome ReadMbox(const ByteSource& source, ItemSink sink, void* context) {
    ContainerOutcome outcome;
    std::unique_ptr<MimeParser> parser(new (std::nothrow) MimeParser(sink, context));
    std::unique_ptr<uint8_t[]> buffer(new (std::nothrow) uint8_t[MailChunkBytes]);
    if (!parser || !buffer || !parser->Prepare()) {
        outcome.damaged = true;
        outcome.why = mail_why::NoMemory;
        return outcome;
    }
    uint8_t* const base = buffer.get();
    uint64_t offset = 0;       // of the next read
    uint32_t kept = 0;         // a line's start carried to the next round
    bool open = false;         // a message has begun
    uint32_t message = 0;
    bool afterEmpty = true;    // the file's start counts as after an empty line
    bool inLine = false;       // the bytes ahead continue a line already judged
    bool inSeparator = false;  // ... a separator's, which is not message text
    bool more = true;
    while (more && !parser->stopped()) {
        uint32_t got = 0;
        const uint64_t left = source.size - offset;
        const uint32_t want = left < MailChunkBytes - kept ? static_cast<uint32_t>(left) : MailChunkBytes - kept;
        if (want > 0) got = source.readAt(source.context, offset, base + kept, want);
        if (got > want) got = 0;
        if (got < want) {
            outcome.damaged = true;
            outcome.where = offset + got;
            outcome.why = mail_why::ReadError;
        }
        offset += got;
        more = got == want && offset < source.size;

        const uint8_t* p = base;
        const uint8_t* const end = base + kept + got;
        const uint8_t* span = p;  // message text not yet fed
        while (p < end) {
            if (inLine) {
                const auto* newline = static_cast<const uint8_t*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
                p = newline != nullptr ? newline + 1 : end;
                if (inSeparator) span = p;
                if (newline != nullptr) inLine = inSeparator = false;
                continue;
            }
            const auto* newline = static_cast<const uint8_t*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            const size_t length = static_cast<size_t>((newline != nullptr ? newline : end) - p);
            // A line's start is judged once enough of it is at hand.
            if (newline == nullptr && more && length < MailLineBound) break;
            if (afterEmpty && *p == 'F' &&
                LooksLikePostmark(p, length < MailLineBound ? static_cast<uint32_t>(length) : MailLineBound)) {
                if (open) {
                    parser->Feed(span, static_cast<size_t>(p - span));
                    parser->Finish();
                    if (parser->stopped()) break;
                }
                parser->Begin(message++);
                open = true;
                afterEmpty = false;
                p = newline != nullptr ? newline + 1 : end;
                span = p;
                inLine = inSeparator = newline == nullptr;
                continue;
            }
            afterEmpty = IsEmptyLine(p, length);
            p = newline != nullptr ? newline + 1 : end;
            inLine = newline == nullptr;
        }
        if (parser->stopped()) break;
        if (open && p > span) parser->Feed(span, static_cast<size_t>(p - span));
        kept = static_cast<uint32_t>(end - p);
        if (kept > 0) std::memmove(base, p, kept);
    }
    if (open && !parser->stopped()) parser->Finish();
    outcome.items = parser->items();
    outcome.notExamined = parser->notExamined();
    outcome.stopped = parser->stopped();
    return outcome;
}
