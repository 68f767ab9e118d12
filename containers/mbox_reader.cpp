// mbox folders (Netscape, Mozilla, Thunderbird, Eudora): messages one after
// the other, each behind a "From " line. Such a line starts a message only
// at the start of the file or after an empty line, and only when it looks
// like a postmark; any other "From " line, and any ">From " line, is text
// of the message it is in. The file is read once, front to back, in chunks;
// everything between two separators goes to the parser as it is, and only
// the places where a line starts with "From " are looked at.
#include <algorithm>
#include <cstddef>
#include <cstring>

#include "containers/mail_bounds.h"
#include "containers/mail_readers.h"
#include "containers/mime_parser.h"

namespace {

// A postmark's time or year lies within this many bytes of its start.
constexpr uint32_t PostmarkLook = 256;

// Bytes kept from before what was read, to tell whether a "From " line
// follows an empty one (LF LF, or LF CR LF).
constexpr uint32_t History = 3;

bool IsDigit(uint8_t c) { return c >= '0' && c <= '9'; }

// What the search for the next "From " line left for the next round.
struct Resume {
    const uint8_t* lineStart = nullptr;  // a line start near the end, to be looked at again whole
};

// The next line at or after p (a line's start) that begins with "From ",
// or null. A "From " line holds a space four bytes in; base64 holds none,
// so an attachment is passed over in one search for a space, and a text
// line costs a search for its first space and one for its end. When the
// answer is null, resume->lineStart is the line start from which to look
// again once more has been read, or null when the next line starts after a
// line break not yet read.
const uint8_t* NextFromLine(const uint8_t* p, const uint8_t* end, Resume* resume) {
    constexpr ptrdiff_t Prefix = 5;
    resume->lineStart = nullptr;
    while (true) {
        if (end - p < Prefix) {
            resume->lineStart = p;
            return nullptr;
        }
        if (std::memcmp(p, "From ", Prefix) == 0) return p;
        const auto* space = static_cast<const uint8_t*>(std::memchr(p, ' ', static_cast<size_t>(end - p)));
        if (space == nullptr) {
            // Only a line that starts in the last bytes may still be one.
            for (const uint8_t* q = end; q > p && end - q < Prefix; --q) {
                if (q[-1] == '\n') {
                    resume->lineStart = q;
                    break;
                }
            }
            return nullptr;
        }
        if (space - p >= Prefix && space[-Prefix] == '\n' && std::memcmp(space - 4, "From", 4) == 0) return space - 4;
        const auto* newline = static_cast<const uint8_t*>(std::memchr(space, '\n', static_cast<size_t>(end - space)));
        if (newline == nullptr) return nullptr;
        p = newline + 1;
    }
}

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

ContainerOutcome ReadMbox(const ByteSource& source, const MailTaker& taker) {
    ContainerOutcome outcome;
    MailStream stream;
    if (!OpenMailStream(taker, &stream, &outcome)) return outcome;
    MimeParser* const parser = stream.parser.get();
    uint8_t* const base = stream.buffer.get();
    // The buffer starts with History bytes that were there before (the
    // file's start counts as after an empty line), then bytes not yet fed.
    for (uint32_t i = 0; i < History; ++i) base[i] = '\n';
    uint32_t kept = History;
    uint64_t offset = 0;       // of the next read
    bool open = false;         // a message has begun
    bool atLineStart = true;   // the bytes after the history start a line
    bool dropping = false;     // ... or go on with a separator line, no message's text
    uint32_t message = 0;
    bool more = true;
    while (more && !parser->stopped()) {
        uint32_t got = 0;
        const uint64_t left = source.size - offset;
        const uint32_t room = MailChunkBytes - kept;
        const uint32_t want = left < room ? static_cast<uint32_t>(left) : room;
        if (want > 0) got = source.readAt(source.context, offset, base + kept, want);
        if (got > want) got = 0;
        if (got < want) {
            outcome.damaged = true;
            outcome.where = offset + got;
            outcome.why = mail_why::ReadError;
        }
        offset += got;
        more = got == want && offset < source.size;

        const uint8_t* const end = base + kept + got;
        const uint8_t* fed = base + History;  // what lies before was fed or is history
        const uint8_t* p = fed;               // a line start from which to look on, or null
        Resume resume;
        if (!atLineStart) {
            const auto* newline = static_cast<const uint8_t*>(std::memchr(p, '\n', static_cast<size_t>(end - p)));
            p = newline != nullptr ? newline + 1 : nullptr;
            if (dropping) fed = p != nullptr ? p : end;
            dropping = dropping && p == nullptr;
        }
        while (p != nullptr) {
            const uint8_t* const line = NextFromLine(p, end, &resume);
            if (line == nullptr) {
                p = resume.lineStart;
                break;
            }
            const size_t look = std::min<size_t>(static_cast<size_t>(end - line), MailLineBound);
            const auto* newline = static_cast<const uint8_t*>(std::memchr(line, '\n', look));
            if (newline == nullptr && more && look < MailLineBound) {
                p = line;  // judged once it is whole
                break;
            }
            const size_t length = newline != nullptr ? static_cast<size_t>(newline - line) : look;
            // After an empty line (LF LF or LF CR LF; the history holds
            // what came before the buffer), and like a postmark.
            const bool afterEmpty = line[-2] == '\n' || (line[-2] == '\r' && line[-3] == '\n');
            if (afterEmpty && LooksLikePostmark(line, static_cast<uint32_t>(length))) {
                if (open) {
                    parser->Feed(fed, static_cast<size_t>(line - fed));
                    parser->Finish();
                    if (parser->stopped()) break;
                }
                parser->Begin(message++);
                open = true;
                dropping = newline == nullptr;
                fed = newline != nullptr ? newline + 1 : end;
            }
            p = newline != nullptr ? newline + 1 : nullptr;
        }
        if (parser->stopped()) break;
        // What follows p waits unfed for the next round, where a line
        // start near the end is looked at again whole.
        const uint8_t* stop = more && p != nullptr ? std::max(p, fed) : end;
        atLineStart = !more || p != nullptr;
        if (open && stop > fed) parser->Feed(fed, static_cast<size_t>(stop - fed));
        kept = History + static_cast<uint32_t>(end - stop);
        std::memmove(base, stop - History, kept);
    }
    if (open && !parser->stopped()) parser->Finish();
    CountMailStream(*parser, &outcome);
    return outcome;
}
