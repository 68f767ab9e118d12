// The date a mail program shows for a message, from its Date header.
#pragma once

#include <cstdint>

#include "containers/mail_text.h"

// "dd/mm/yyyy" from an RFC 5322 date ("Sun, 12 May 2002 10:20:30 +0200")
// and the forms older mailers wrote (no weekday, two-digit years, ctime's
// "Sun May 12 10:20:30 2002", "12-May-2002", "2002-05-12"); when none of
// them reads, the value itself, trimmed.
void PutMailDate(MailText* out, const uint8_t* value, uint32_t length);
