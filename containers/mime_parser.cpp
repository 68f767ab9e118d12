#include "containers/mime_parser.h"

#include <cstdlib>
#include <cstring>

#include "containers/mime_header.h"

namespace {

// Base64 is decoded in slices whose output fits one step of the item; the
// first slices are short, since most attachments are not programs and
// only their first two bytes are wanted.
constexpr uint32_t Base64Slice = 32u << 10;
constexpr uint32_t Base64FirstSlice = 256;
static_assert(Base64Room(Base64Slice) <= ItemStepBytes, "a slice's output must fit one step");
static_assert(QpRoom(MailLineBound) <= ItemStepBytes, "a line's output must fit one step");

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t'; }

uint32_t Narrow(size_t n, uint32_t bound) { return n < bound ? static_cast<uint32_t>(n) : bound; }

}  // namespace

MimeParser::MimeParser(ItemSink sink, void* context) : MimeParser(MailTaker{sink, context, nullptr}) {}

MimeParser::MimeParser(const MailTaker& taker) : sink_(taker.sink), context_(taker.context) {
    item_.SetReach(taker.reach);
}

MimeParser::~MimeParser() {
    std::free(header_);
    std::free(carry_);
}

bool MimeParser::Prepare() {
    if (header_ == nullptr) header_ = static_cast<uint8_t*>(std::malloc(MailHeaderBound));
    if (carry_ == nullptr) carry_ = static_cast<uint8_t*>(std::malloc(MailLineBound));
    return header_ != nullptr && carry_ != nullptr && item_.Prepare();
}

void MimeParser::Begin(uint32_t message) {
    message_ = message;
    TextClear(&subject_);
    TextClear(&date_);
    frameCount_ = 0;
    multiparts_ = 0;
    carrySize_ = 0;
    atLineStart_ = true;
    itemOpen_ = false;
    StartHeaders(false, true);
}

bool MimeParser::Feed(const uint8_t* data, size_t size) {
    const uint8_t* p = data;
    const uint8_t* const end = data + size;
    while (p < end && !stopped_) {
        if (carrySize_ > 0) {
            p = ContinueCarry(p, end);
            continue;
        }
        if (mode_ == Mode::Skip || mode_ == Mode::Base64 || mode_ == Mode::Raw) {
            p = FastSpan(p, end);
            if (p == end) break;
        }
        p = TakeLine(p, end);
    }
    return !stopped_;
}

bool MimeParser::Finish() {
    if (!stopped_ && carrySize_ > 0) {
        const uint32_t size = carrySize_;
        carrySize_ = 0;
        Line(carry_, size, carryStartsLine_, true);
    }
    if (!stopped_) EndLeaf();
    frameCount_ = 0;
    multiparts_ = 0;
    return !stopped_;
}

// In the modes that need no line of their own (an attachment being
// decoded, parts passed over), only a line that starts with '-' can matter:
// it may be a boundary. Everything before the next one is content.
const uint8_t* MimeParser::FastSpan(const uint8_t* p, const uint8_t* end) {
    const uint8_t* stop = end;
    if (multiparts_ > 0) {
        const uint8_t* from = p;
        while (from < end) {
            const auto* dash = static_cast<const uint8_t*>(std::memchr(from, '-', static_cast<size_t>(end - from)));
            if (dash == nullptr) break;
            if (dash == p ? atLineStart_ : dash[-1] == '\n') {
                stop = dash;
                break;
            }
            from = dash + 1;
        }
    }
    if (stop > p) {
        Content(p, static_cast<size_t>(stop - p));
        atLineStart_ = stop[-1] == '\n';
    }
    return stop;
}

const uint8_t* MimeParser::TakeLine(const uint8_t* p, const uint8_t* end) {
    const size_t left = static_cast<size_t>(end - p);
    const auto* newline = static_cast<const uint8_t*>(std::memchr(p, '\n', left));
    if (newline != nullptr) {
        const bool starts = atLineStart_;
        atLineStart_ = true;
        Line(p, static_cast<uint32_t>(newline + 1 - p), starts, true);
        return newline + 1;
    }
    if (left >= MailLineBound) {
        const bool starts = atLineStart_;
        atLineStart_ = false;
        Line(p, MailLineBound, starts, false);
        return p + MailLineBound;
    }
    std::memcpy(carry_, p, left);
    carrySize_ = static_cast<uint32_t>(left);
    carryStartsLine_ = atLineStart_;
    return end;
}

const uint8_t* MimeParser::ContinueCarry(const uint8_t* p, const uint8_t* end) {
    const uint32_t room = MailLineBound - carrySize_;
    const uint32_t look = Narrow(static_cast<size_t>(end - p), room);
    const auto* newline = static_cast<const uint8_t*>(std::memchr(p, '\n', look));
    const uint32_t take = newline != nullptr ? static_cast<uint32_t>(newline + 1 - p) : look;
    std::memcpy(carry_ + carrySize_, p, take);
    carrySize_ += take;
    if (newline != nullptr || carrySize_ == MailLineBound) {
        const uint32_t size = carrySize_;
        carrySize_ = 0;
        atLineStart_ = newline != nullptr;
        Line(carry_, size, carryStartsLine_, newline != nullptr);
    }
    return p + take;
}

void MimeParser::Line(const uint8_t* line, uint32_t length, bool startsLine, bool complete) {
    uint32_t content = length;
    if (complete) {
        if (content > 0 && line[content - 1] == '\n') --content;
        if (content > 0 && line[content - 1] == '\r') --content;
    }
    if (startsLine && complete && multiparts_ > 0 && content >= 2 && line[0] == '-' && line[1] == '-' &&
        Boundary(line + 2, content - 2)) {
        return;
    }
    switch (mode_) {
        case Mode::Headers:
            HeaderLine(line, content, startsLine, complete);
            return;
        case Mode::Skip:
            return;
        case Mode::Text: {
            uint32_t nameStart = 0;
            uint32_t nameLength = 0;
            if (startsLine && IsUuBegin(line, content, &nameStart, &nameLength)) {
                MailText name;
                TextPutBytes(&name, Charset::Raw, line + nameStart, nameLength);
                OpenItem(name);
                uuInText_ = true;
                mode_ = Mode::UuLines;
            }
            return;
        }
        case Mode::UuWait: {
            uint32_t nameStart = 0;
            uint32_t nameLength = 0;
            if (startsLine && IsUuBegin(line, content, &nameStart, &nameLength)) {
                if (itemName_.size == 0) TextPutBytes(&itemName_, Charset::Raw, line + nameStart, nameLength);
                uuInText_ = false;
                mode_ = Mode::UuLines;
            }
            return;
        }
        case Mode::UuLines:
            if (!startsLine) return;
            if (IsUuEnd(line, content)) {
                if (uuInText_) {
                    Emit();
                    mode_ = Mode::Text;
                } else {
                    mode_ = Mode::Skip;  // the part's item goes when the part ends
                }
                return;
            }
            if (!item_.done()) item_.Commit(DecodeUuLine(line, content, item_.Target(UuLineRoom)));
            // A block in a text part still needs its "end" line, for the
            // text that follows; a part's block only its boundary.
            if (item_.done() && !uuInText_) mode_ = Mode::Skip;
            return;
        case Mode::Qp:
            if (!item_.done()) {
                item_.Commit(DecodeQp(&qp_, line, content, startsLine, complete, item_.Target(QpRoom(content))));
            }
            if (item_.done()) mode_ = Mode::Skip;  // the rest is passed over; the item goes when the part ends
            return;
        case Mode::Base64:
        case Mode::Raw:
            Content(line, length);
            return;
    }
}

// "--boundary" or "--boundary--", blanks after it allowed, of any multipart
// open: the innermost first. A boundary of an outer multipart also ends
// everything opened inside it.
bool MimeParser::Boundary(const uint8_t* rest, uint32_t length) {
    for (uint32_t i = frameCount_; i-- > 0;) {
        const Frame& frame = frames_[i];
        if (!frame.multipart || length < frame.boundaryLength ||
            std::memcmp(rest, frame.boundary, frame.boundaryLength) != 0) {
            continue;
        }
        uint32_t at = frame.boundaryLength;
        const bool closing = length - at >= 2 && rest[at] == '-' && rest[at + 1] == '-';
        if (closing) at += 2;
        while (at < length && IsBlank(rest[at])) ++at;
        if (at != length) continue;

        EndLeaf();
        if (stopped_) return true;
        if (closing) {
            PopTo(i);
            mode_ = Mode::Skip;  // the epilogue
        } else {
            PopTo(i + 1);
            StartHeaders(frame.digest, false);
        }
        return true;
    }
    return false;
}

void MimeParser::PopTo(uint32_t count) {
    frameCount_ = count;
    multiparts_ = 0;
    for (uint32_t i = 0; i < frameCount_; ++i) multiparts_ += frames_[i].multipart ? 1u : 0u;
}

void MimeParser::StartHeaders(bool defaultMessage, bool top) {
    mode_ = Mode::Headers;
    headerSize_ = 0;
    headerFull_ = false;
    headersTop_ = top;
    headersDefaultMessage_ = defaultMessage;
}

void MimeParser::HeaderLine(const uint8_t* line, uint32_t length, bool startsLine, bool complete) {
    if (startsLine && complete && length == 0) {
        EndHeaders();
        return;
    }
    if (headerFull_) return;
    // A line that starts with a blank continues the field before it
    // (unfolding keeps the blank and drops the line break).
    const bool newField = startsLine && length > 0 && !IsBlank(line[0]);
    const uint32_t separator = newField && headerSize_ > 0 ? 1u : 0u;
    const uint32_t room = MailHeaderBound - headerSize_;
    if (separator + length > room) {
        headerFull_ = true;  // the rest of the block is ignored
        return;
    }
    if (separator != 0) header_[headerSize_++] = '\n';
    std::memcpy(header_ + headerSize_, line, length);
    headerSize_ += length;
}

void MimeParser::EndHeaders() {
    PartHeader part;
    ReadPartHeader(header_, headerSize_, headersDefaultMessage_, &part, headersTop_ ? &subject_ : nullptr,
                   headersTop_ ? &date_ : nullptr);
    mode_ = Mode::Skip;
    bool attachment = false;
    switch (part.kind) {
        case MediaKind::Multipart:
            if (part.boundaryLength == 0 && !part.boundaryTooLong) {
                mode_ = Mode::Text;  // nothing to split it by: read as text
            } else if (part.boundaryTooLong || frameCount_ >= MailNestingBound) {
                ++notExamined_;
            } else {
                Frame& frame = frames_[frameCount_++];
                frame.multipart = true;
                frame.digest = part.digest;
                frame.boundaryLength = part.boundaryLength;
                std::memcpy(frame.boundary, part.boundary, part.boundaryLength);
                ++multiparts_;
            }
            return;
        case MediaKind::Message:
            if (part.encoding != TransferEncoding::Identity) {
                attachment = true;  // an encoded message is examined as a file
            } else if (frameCount_ >= MailNestingBound) {
                ++notExamined_;
                return;
            } else {
                Frame& frame = frames_[frameCount_++];
                frame.multipart = false;
                frame.digest = false;
                frame.boundaryLength = 0;
                StartHeaders(false, false);
                return;
            }
            break;
        case MediaKind::Text:
            attachment = part.name.size > 0 || part.attachment;
            if (!attachment) mode_ = Mode::Text;
            break;
        case MediaKind::Other:
            attachment = true;
            break;
    }
    if (!attachment) return;
    OpenItem(part.name);
    switch (part.encoding) {
        case TransferEncoding::Base64:
            base64_ = Base64State{};
            mode_ = Mode::Base64;
            break;
        case TransferEncoding::QuotedPrintable:
            qp_ = QpState{};
            mode_ = Mode::Qp;
            break;
        case TransferEncoding::Uuencode:
            mode_ = Mode::UuWait;
            break;
        case TransferEncoding::Identity:
            heldCount_ = 0;
            mode_ = Mode::Raw;
            break;
    }
}

void MimeParser::OpenItem(const MailText& name) {
    item_.Reset();
    itemOpen_ = true;
    itemName_ = name;
}

void MimeParser::EndLeaf() {
    if (mode_ == Mode::Base64 && itemOpen_ && !item_.done()) {
        uint8_t* out = item_.Target(3);
        item_.Commit(FinishBase64(&base64_, out));
    }
    if (itemOpen_) Emit();
    mode_ = Mode::Skip;
}

void MimeParser::Emit() {
    itemOpen_ = false;
    ContainedItem item;
    item.data = item_.data();
    item.size = item_.size();
    item.cut = item_.cut();
    item.name = itemName_.text;
    item.subject = subject_.text;
    item.date = date_.text;
    item.message = message_;
    ++items_;
    if (!sink_(context_, item)) stopped_ = true;
}

void MimeParser::Content(const uint8_t* data, size_t size) {
    if (mode_ == Mode::Base64) {
        AppendBase64(data, size);
    } else if (mode_ == Mode::Raw) {
        AppendRaw(data, size);
    }
}

void MimeParser::AppendBase64(const uint8_t* data, size_t size) {
    while (size > 0 && !item_.done()) {
        // Four characters give three bytes: a slice need not decode more
        // than is wanted before the reach is asked again.
        const uint32_t wanted = item_.wanted();
        const uint32_t most = wanted < Base64Slice / 4 * 3 ? (wanted / 3 + 1) * 4 : Base64Slice;
        const uint32_t slice = Narrow(size, item_.undecided() ? Base64FirstSlice : most);
        uint8_t* out = item_.Target(Base64Room(slice));
        item_.Commit(DecodeBase64(&base64_, data, slice, out));
        data += slice;
        size -= slice;
    }
}

// The line break that ends what has come so far is held back: if a
// boundary follows, it is the boundary's.
void MimeParser::AppendRaw(const uint8_t* data, size_t size) {
    if (size == 0 || item_.done()) return;
    if (size == 1 && data[0] == '\n' && heldCount_ == 1 && held_[0] == '\r') {
        held_[1] = '\n';
        heldCount_ = 2;
        return;
    }
    size_t keep = 0;
    if (data[size - 1] == '\n') {
        keep = size >= 2 && data[size - 2] == '\r' ? 2 : 1;
    } else if (data[size - 1] == '\r') {
        keep = 1;
    }
    CopyToItem(held_, heldCount_);
    CopyToItem(data, size - keep);
    heldCount_ = static_cast<uint32_t>(keep);
    for (size_t i = 0; i < keep; ++i) held_[i] = data[size - keep + i];
}

void MimeParser::CopyToItem(const uint8_t* data, size_t size) {
    while (size > 0 && !item_.done()) {
        const uint32_t wanted = item_.wanted();
        const uint32_t slice = Narrow(size, wanted < ItemStepBytes ? wanted : ItemStepBytes);
        std::memcpy(item_.Target(slice), data, slice);
        item_.Commit(slice);
        data += slice;
        size -= slice;
    }
}
