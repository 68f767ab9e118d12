// What the header fields of a message or a MIME part say about its body:
// the media type, the boundary of a multipart, the attachment's name, the
// transfer encoding; and, for the top-level message, subject and date.
#pragma once

#include <cstdint>

#include "containers/mail_bounds.h"
#include "containers/mail_text.h"

enum class MediaKind {
    Text,
    Multipart,
    Message,  // message/rfc822 (or news): a whole message inside
    Other,
};

enum class TransferEncoding {
    Identity,  // 7bit, 8bit, binary or none
    Base64,
    QuotedPrintable,
    Uuencode,
};

struct PartHeader {
    MediaKind kind = MediaKind::Text;
    bool digest = false;           // multipart/digest: its parts default to message/rfc822
    bool attachment = false;       // Content-Disposition: attachment
    TransferEncoding encoding = TransferEncoding::Identity;
    uint8_t boundary[MailBoundaryBound] = {};
    uint32_t boundaryLength = 0;
    bool boundaryTooLong = false;
    MailText name;                 // filename (disposition), else name (type)
};

// block holds the unfolded fields, one to a line ('\n' between them).
// defaultMessage: the part belongs to a multipart/digest. subject and date
// are filled when not null.
void ReadPartHeader(const uint8_t* block, uint32_t length, bool defaultMessage, PartHeader* out, MailText* subject,
                    MailText* date);
