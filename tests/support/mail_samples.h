// Mail samples for the tests of the mail readers: messages with
// attachments made from given bytes (worm copies and hosts from synth.h,
// or any bytes), and folders that hold them: mbox files and Outlook Express
// 5/6 folders (.dbx). The .dbx writer follows the published description of
// the format on its own, so that the reader is checked against it rather
// than against itself.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tests/support/synth.h"

namespace synth {

Bytes ToBytes(const std::string& text);

// ------------------------------------------------------------ encodings

// CR LF after each line of lineLength characters (and after the last).
std::string Base64Lines(const Bytes& bytes, size_t lineLength = 76);
// Every byte that is not printable ASCII (and '=') escaped, soft breaks
// keeping lines within 76 characters; no line break after the last line.
std::string QuotedPrintableLines(const Bytes& bytes);
// "begin 644 name", lines of 45 bytes, "`", "end".
std::string UuencodeBlock(const Bytes& bytes, const std::string& name);

// ------------------------------------------------------------ messages

enum class MailEncoding { Base64, QuotedPrintable, Uuencode, Binary };

struct MailAttachment {
    Bytes bytes;
    // The whole Content-Type value ("audio/x-wav; name=\"a.pif\"").
    std::string contentType = "application/octet-stream";
    // The whole Content-Disposition value; empty: no such field.
    std::string disposition;
    MailEncoding encoding = MailEncoding::Base64;
};

// A MIME part (header fields, empty line, body), CR LF line breaks. A
// binary body's last line break is the boundary's.
std::string AttachmentPart(const MailAttachment& attachment);
std::string TextPart(const std::string& type, const std::string& text);
// A part that holds a multipart: its header and its body (preamble, the
// parts between boundaries, the closing boundary, an epilogue).
std::string MultipartPart(const std::string& subtype, const std::string& boundary,
                          const std::vector<std::string>& parts);
// A part that holds a whole message (a forwarded one).
std::string ForwardedPart(const std::string& message);

struct MailHeader {
    std::string subject = "Hola";
    std::string date = "Sun, 12 May 2002 10:20:30 +0200";
    std::string from = "ana@example.com";
    std::string to = "luis@example.com";
};

// A top-level message: its header fields, then those of content (a part).
std::string MailMessage(const MailHeader& header, const std::string& content);

// How the worm sent itself: an HTML text beside an audio/x-wav part named
// as a program, base64-encoded.
std::string WormStyleMessage(const Bytes& program, const std::string& name, const MailHeader& header);

// ------------------------------------------------------------ folders

std::string WithLf(const std::string& crlfText);

// Each message behind a postmark line ("From ... Sun May 12 10:20:30 2002")
// and followed by an empty line; LF line breaks unless crlf.
Bytes MakeMbox(const std::vector<std::string>& messages, bool crlf = false);

struct DbxOptions {
    uint32_t textPerBlock = 0x200;   // 1..0x200 bytes of text in each block
    uint32_t entriesPerNode = 0x33;  // 1..0x33: fewer spread the index over more nodes
    // The info keeps the first block's offset in its data (always, when it
    // does not fit the index's three bytes).
    bool firstBlockInData = false;
    bool blocksBackwards = false;    // a chain's blocks lie from its end towards its start
    bool folderList = false;         // the class id of Folders.dbx
    bool indexFirst = false;         // infos and nodes before the blocks, not after
    // Messages deleted but not compacted away: their blocks remain, no
    // index refers to them.
    std::vector<std::string> deleted;
};

// Where MakeDbx put things, for tests that damage them.
struct DbxLayout {
    uint32_t root = 0;
    std::vector<uint32_t> nodes;
    std::vector<uint32_t> infos;                // message by message, in index order
    std::vector<std::vector<uint32_t>> blocks;  // each message's blocks, in chain order
};

// An Outlook Express 5/6 message folder holding messages (each one's text,
// CR LF line breaks) in this order.
Bytes MakeDbx(const std::vector<std::string>& messages, const DbxOptions& options = {},
              DbxLayout* layout = nullptr);

// Offsets inside a .dbx's objects, for the same tests.
constexpr uint32_t DbxBlockNextField = 12;
constexpr uint32_t DbxNodeLeftChildField = 8;
constexpr uint32_t DbxFileHeaderSize = 0x24BC;

}  // namespace synth
