// The streaming MIME parser shared by every mail reader: it is fed the text
// of one message in pieces of any size as they are read, and hands over
// each attachment it finds (and each uuencoded block in a text part) as an
// item. It never needs the whole message: one header block, one line and
// one item are all it holds.
#pragma once

#include <cstddef>
#include <cstdint>

#include "containers/contained.h"
#include "containers/item_bytes.h"
#include "containers/mail_bounds.h"
#include "containers/mail_text.h"
#include "containers/transfer_decode.h"

// Who takes a parser's items, and how far into each it reads (null: all).
struct MailTaker {
    ItemSink sink = nullptr;
    void* context = nullptr;
    ItemReach reach = nullptr;
};

class MimeParser {
public:
    MimeParser(ItemSink sink, void* context);
    explicit MimeParser(const MailTaker& taker);
    MimeParser(const MimeParser&) = delete;
    MimeParser& operator=(const MimeParser&) = delete;
    ~MimeParser();

    // Takes the parser's memory; false when there is none to be had.
    bool Prepare();

    // A new top-level message, the folder's message-th (from 0).
    void Begin(uint32_t message);
    // More of its text. False once the sink has said stop.
    bool Feed(const uint8_t* data, size_t size);
    // Its end: what is still open is handed over as it stands.
    bool Finish();

    uint32_t items() const { return items_; }
    uint32_t notExamined() const { return notExamined_; }
    bool stopped() const { return stopped_; }

private:
    enum class Mode : uint8_t {
        Headers,  // the header block of the message or of a part
        Skip,     // a preamble, an epilogue, a part not examined
        Text,     // a text part, looked through for uuencoded blocks
        UuWait,   // a uuencoded attachment, before its "begin" line
        UuLines,  // inside a uuencoded block
        Base64,
        Qp,
        Raw,      // an attachment in 7bit, 8bit or binary
    };

    struct Frame {
        bool multipart = false;  // else a forwarded message inside a part
        bool digest = false;
        uint32_t boundaryLength = 0;
        uint8_t boundary[MailBoundaryBound] = {};
    };

    const uint8_t* FastSpan(const uint8_t* p, const uint8_t* end);
    const uint8_t* TakeLine(const uint8_t* p, const uint8_t* end);
    const uint8_t* ContinueCarry(const uint8_t* p, const uint8_t* end);
    void Line(const uint8_t* line, uint32_t length, bool startsLine, bool complete);
    bool Boundary(const uint8_t* rest, uint32_t length);
    void HeaderLine(const uint8_t* line, uint32_t length, bool startsLine, bool complete);
    void StartHeaders(bool defaultMessage, bool top);
    void EndHeaders();
    void OpenItem(const MailText& name);
    void EndLeaf();
    void Emit();
    void Content(const uint8_t* data, size_t size);
    void AppendBase64(const uint8_t* data, size_t size);
    void AppendRaw(const uint8_t* data, size_t size);
    void CopyToItem(const uint8_t* data, size_t size);
    void PopTo(uint32_t count);

    ItemSink sink_;
    void* context_;

    uint8_t* header_ = nullptr;  // MailHeaderBound
    uint32_t headerSize_ = 0;
    bool headerFull_ = false;
    bool headersTop_ = false;
    bool headersDefaultMessage_ = false;

    uint8_t* carry_ = nullptr;  // MailLineBound
    uint32_t carrySize_ = 0;
    bool carryStartsLine_ = false;
    bool atLineStart_ = true;

    Mode mode_ = Mode::Skip;
    Frame frames_[MailNestingBound];
    uint32_t frameCount_ = 0;
    uint32_t multiparts_ = 0;  // frames that are multiparts: boundaries to watch for

    ItemBytes item_;
    bool itemOpen_ = false;
    bool uuInText_ = false;  // the uuencoded block lies in a text part
    MailText itemName_;
    Base64State base64_;
    QpState qp_;
    uint8_t held_[2] = {};   // a raw attachment's last line break, which a boundary may claim
    uint32_t heldCount_ = 0;

    uint32_t message_ = 0;
    MailText subject_;
    MailText date_;

    uint32_t items_ = 0;
    uint32_t notExamined_ = 0;
    bool stopped_ = false;
};
