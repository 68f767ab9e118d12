// Readers of mail folders: Outlook Express 5/6 folders, mbox and single
// messages. Every attachment of every message is decoded (base64,
// quoted-printable, uuencode) and handed over as an item, with the subject
// and date of its message. Nothing is ever written.
#pragma once

#include <cstdint>

#include "containers/contained.h"
#include "containers/recognize.h"

// OutlookExpress, Mbox or MailMessage when the first bytes call for one of
// them, else None.
ContainerKind RecognizeMail(const uint8_t* head, uint32_t length);

// With reach, an attachment is decoded only as far as reach says its bytes
// are wanted; without, whole (up to ItemBound).
ContainerOutcome ReadMail(ContainerKind kind, const ByteSource& source, ItemSink sink, void* context,
                          ItemReach reach = nullptr);
