#include "containers/mail.h"
#include "containers/ascii_case.h"

#include <cstring>

#include "containers/mail_readers.h"

namespace {

// The scan reads this much of every file before it asks for a reader: a
// header block that fills it may go on beyond.
constexpr uint32_t HeadBytes = 4096;

const uint8_t DbxMessages[8] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F};

// "Name:" with a name of printable ASCII, no blank, no colon: the length
// of the name, or 0 when the line is no header field.
uint32_t FieldName(const uint8_t* line, uint32_t length) {
    uint32_t i = 0;
    while (i < length && line[i] > 32 && line[i] < 127 && line[i] != ':') ++i;
    return i > 0 && i < length && line[i] == ':' ? i : 0;
}

bool IsCommonMailField(const uint8_t* name, uint32_t length) {
    static const char* const common[] = {"from", "to", "subject", "date", "received", "return-path",
                                         "message-id", "newsgroups", "path", "cc", "reply-to", "sender"};
    for (const char* wanted : common) {
        if (NameIs(name, length, wanted)) return true;
    }
    return length > 2 && AsciiLower(name[0]) == 'x' && name[1] == '-';
}

// The line at *at (its break not counted); false when the head ends
// before its break.
bool NextLine(const uint8_t* head, uint32_t length, uint32_t* at, const uint8_t** line, uint32_t* lineLength) {
    if (*at >= length) return false;
    const auto* newline = static_cast<const uint8_t*>(std::memchr(head + *at, '\n', length - *at));
    if (newline == nullptr) return false;
    *line = head + *at;
    *lineLength = static_cast<uint32_t>(newline - *line);
    if (*lineLength > 0 && (*line)[*lineLength - 1] == '\r') --*lineLength;
    *at = static_cast<uint32_t>(newline - head) + 1;
    return true;
}

// A message: header fields from the first byte up to an empty line (or to
// the end of a full head), among them MIME's and one other field every
// mail carries.
bool LooksLikeMessage(const uint8_t* head, uint32_t length) {
    uint32_t at = 0;
    const uint8_t* line = nullptr;
    uint32_t lineLength = 0;
    uint32_t fields = 0;
    bool mime = false;
    bool common = false;
    while (NextLine(head, length, &at, &line, &lineLength)) {
        if (lineLength == 0) return fields > 0 && mime && common;
        if (line[0] == ' ' || line[0] == '\t') {
            if (fields == 0) return false;
            continue;
        }
        const uint32_t name = FieldName(line, lineLength);
        if (name == 0) return false;
        ++fields;
        if (NameIs(line, name, "mime-version") || NameIs(line, name, "content-type")) {
            mime = true;
        } else if (IsCommonMailField(line, name)) {
            common = true;
        }
    }
    return length >= HeadBytes && mime && common;
}

bool LooksLikeMbox(const uint8_t* head, uint32_t length) {
    uint32_t at = 0;
    const uint8_t* line = nullptr;
    uint32_t lineLength = 0;
    if (!NextLine(head, length, &at, &line, &lineLength) || !LooksLikePostmark(line, lineLength)) return false;
    // The message behind the postmark starts with a header field.
    return NextLine(head, length, &at, &line, &lineLength) && FieldName(line, lineLength) > 0;
}

}  // namespace

ContainerKind RecognizeMail(const uint8_t* head, uint32_t length) {
    if (head == nullptr) return ContainerKind::None;
    if (length >= sizeof DbxMessages && std::memcmp(head, DbxMessages, sizeof DbxMessages) == 0) {
        return ContainerKind::OutlookExpress;
    }
    if (length >= 5 && std::memcmp(head, "From ", 5) == 0) {
        return LooksLikeMbox(head, length) ? ContainerKind::Mbox : ContainerKind::None;
    }
    return LooksLikeMessage(head, length) ? ContainerKind::MailMessage : ContainerKind::None;
}

ContainerOutcome ReadMail(ContainerKind kind, const ByteSource& source, ItemSink sink, void* context,
                          ItemReach reach) {
    const MailTaker taker{sink, context, reach};
    switch (kind) {
        case ContainerKind::OutlookExpress:
            return ReadDbx(source, taker);
        case ContainerKind::Mbox:
            return ReadMbox(source, taker);
        case ContainerKind::MailMessage:
            return ReadMessageFile(source, taker);
        default:
            return ContainerOutcome{};
    }
}
