// Which reader, if any, a file's bytes call for. Decided from the first
// bytes the scan has read already, so files that are neither mail nor an
// archive cost nothing more.
#pragma once

#include <cstdint>

enum class ContainerKind {
    None,
    OutlookExpress,  // an Outlook Express 5/6 message folder (.dbx)
    Mbox,            // messages separated by "From " lines
    MailMessage,     // one RFC 5322 message with a MIME body (.eml, .nws)
    Zip,
    Rar4,
    Rar5,
};

ContainerKind RecognizeContainer(const uint8_t* head, uint32_t length);
