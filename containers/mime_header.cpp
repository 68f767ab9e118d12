#include "containers/mime_header.h"

#include "containers/mail_date.h"

namespace {

// What is read of one header value for names and subjects: enough for any
// text of ItemTextBound bytes however it is encoded, and a bound on the
// work a value that is nothing but broken encoded words can cause.
constexpr uint32_t ValueReadBound = 16u << 10;

uint8_t Lower(uint8_t c) { return c >= 'A' && c <= 'Z' ? static_cast<uint8_t>(c + 32) : c; }

bool IsBlank(uint8_t c) { return c == ' ' || c == '\t' || c == '\r'; }

struct Span {
    const uint8_t* data = nullptr;
    uint32_t length = 0;
};

bool Is(Span span, const char* wanted) {
    uint32_t i = 0;
    for (; i < span.length && wanted[i] != '\0'; ++i) {
        if (Lower(span.data[i]) != static_cast<uint8_t>(wanted[i])) return false;
    }
    return i == span.length && wanted[i] == '\0';
}

Span Trim(Span span) {
    while (span.length > 0 && IsBlank(span.data[0])) {
        ++span.data;
        --span.length;
    }
    while (span.length > 0 && IsBlank(span.data[span.length - 1])) --span.length;
    return span;
}

// One parameter: attribute=value, value quoted or not.
struct Param {
    Span attribute;
    Span value;  // inside the quotes, escapes still in it
    bool quoted = false;
};

// The parameter at or after *at in a ";"-separated list; false at the end.
bool NextParam(Span list, uint32_t* at, Param* param) {
    uint32_t i = *at;
    while (i < list.length) {
        while (i < list.length && (IsBlank(list.data[i]) || list.data[i] == ';')) ++i;
        const uint32_t nameStart = i;
        while (i < list.length && list.data[i] != '=' && list.data[i] != ';') ++i;
        if (i >= list.length || list.data[i] == ';') continue;  // no value: passed over
        param->attribute = Trim(Span{list.data + nameStart, i - nameStart});
        ++i;
        while (i < list.length && IsBlank(list.data[i])) ++i;
        if (i < list.length && list.data[i] == '"') {
            const uint32_t valueStart = ++i;
            while (i < list.length && list.data[i] != '"') i += (list.data[i] == '\\' && i + 1 < list.length) ? 2 : 1;
            const uint32_t valueEnd = i < list.length ? i : list.length;
            param->value = Span{list.data + valueStart, valueEnd - valueStart};
            param->quoted = true;
            while (i < list.length && list.data[i] != ';') ++i;
        } else {
            const uint32_t valueStart = i;
            while (i < list.length && list.data[i] != ';') ++i;
            param->value = Trim(Span{list.data + valueStart, i - valueStart});
            param->quoted = false;
        }
        *at = i;
        return true;
    }
    *at = i;
    return false;
}

// The value without its quoting backslashes, into out (room for
// MailWordBound bytes); returns its length.
uint32_t Unquote(const Param& param, uint8_t* out) {
    uint32_t size = 0;
    for (uint32_t i = 0; i < param.value.length && size < MailWordBound; ++i) {
        if (param.quoted && param.value.data[i] == '\\' && i + 1 < param.value.length) ++i;
        out[size++] = param.value.data[i];
    }
    return size;
}

// A file name given as a parameter: plain ("name=") or in RFC 2231 pieces
// ("name*=", "name*0=", "name*1*=").
struct NameParam {
    const char* attribute;
    uint8_t plain[MailWordBound];
    uint32_t plainLength = 0;
    bool plainGiven = false;
    ExtendedValue extended;

    explicit NameParam(const char* wanted) : attribute(wanted) {}

    void Offer(const Param& param) {
        const Span a = param.attribute;
        uint32_t i = 0;
        for (; attribute[i] != '\0'; ++i) {
            if (i >= a.length || Lower(a.data[i]) != static_cast<uint8_t>(attribute[i])) return;
        }
        uint8_t value[MailWordBound];
        const uint32_t length = Unquote(param, value);
        if (i == a.length) {
            if (!plainGiven) {
                for (uint32_t k = 0; k < length; ++k) plain[k] = value[k];
                plainLength = length;
                plainGiven = true;
            }
            return;
        }
        if (a.data[i] != '*') return;
        ++i;
        if (i == a.length) {  // name*=charset'language'text
            if (!extended.any) ExtendedAppend(&extended, value, length, true, true);
            return;
        }
        uint32_t section = 0;
        const uint32_t digitsStart = i;
        while (i < a.length && a.data[i] >= '0' && a.data[i] <= '9' && i - digitsStart < 4) {
            section = section * 10 + static_cast<uint32_t>(a.data[i] - '0');
            ++i;
        }
        if (i == digitsStart) return;
        const bool pieceExtended = i < a.length && a.data[i] == '*';
        if (i + (pieceExtended ? 1u : 0u) != a.length) return;
        ExtendedAppend(&extended, value, length, pieceExtended, section == 0);
    }

    // True when the parameter was given in either form.
    bool Put(MailText* out) const {
        if (extended.any) {
            TextPutExtended(out, extended);
            return true;
        }
        if (plainGiven) {
            TextPutHeader(out, plain, plainLength);
            return true;
        }
        return false;
    }
};

void ReadContentType(Span value, bool defaultMessage, PartHeader* out, NameParam* name) {
    uint32_t i = 0;
    while (i < value.length && IsBlank(value.data[i])) ++i;
    const uint32_t typeStart = i;
    while (i < value.length && value.data[i] != '/' && value.data[i] != ';' && !IsBlank(value.data[i])) ++i;
    const Span type{value.data + typeStart, i - typeStart};
    Span subtype;
    if (i < value.length && value.data[i] == '/') {
        const uint32_t subtypeStart = ++i;
        while (i < value.length && value.data[i] != ';' && !IsBlank(value.data[i])) ++i;
        subtype = Span{value.data + subtypeStart, i - subtypeStart};
    }
    if (Is(type, "multipart")) {
        out->kind = MediaKind::Multipart;
        out->digest = Is(subtype, "digest");
    } else if (Is(type, "message") && (Is(subtype, "rfc822") || Is(subtype, "news"))) {
        out->kind = MediaKind::Message;
    } else if (Is(type, "text")) {
        out->kind = MediaKind::Text;
    } else if (type.length == 0) {
        out->kind = defaultMessage ? MediaKind::Message : MediaKind::Text;
    } else {
        out->kind = MediaKind::Other;
    }
    const Span list{value.data + i, value.length - i};
    uint32_t at = 0;
    Param param;
    bool boundarySeen = false;
    while (NextParam(list, &at, &param)) {
        if (!boundarySeen && Is(param.attribute, "boundary")) {
            boundarySeen = true;
            uint8_t boundary[MailWordBound];
            const uint32_t length = Unquote(param, boundary);
            if (length > MailBoundaryBound || param.value.length > MailBoundaryBound) {
                out->boundaryTooLong = true;
            } else {
                for (uint32_t k = 0; k < length; ++k) out->boundary[k] = boundary[k];
                out->boundaryLength = length;
            }
        }
        name->Offer(param);
    }
}

void ReadDisposition(Span value, PartHeader* out, NameParam* filename) {
    const Span trimmed = Trim(value);
    uint32_t i = 0;
    while (i < trimmed.length && trimmed.data[i] != ';' && !IsBlank(trimmed.data[i])) ++i;
    out->attachment = Is(Span{trimmed.data, i}, "attachment");
    const Span list{trimmed.data + i, trimmed.length - i};
    uint32_t at = 0;
    Param param;
    while (NextParam(list, &at, &param)) filename->Offer(param);
}

TransferEncoding EncodingNamed(Span value) {
    const Span name = Trim(value);
    if (Is(name, "base64")) return TransferEncoding::Base64;
    if (Is(name, "quoted-printable")) return TransferEncoding::QuotedPrintable;
    if (Is(name, "x-uuencode") || Is(name, "uuencode") || Is(name, "x-uue") || Is(name, "x-uu")) {
        return TransferEncoding::Uuencode;
    }
    return TransferEncoding::Identity;
}

}  // namespace

void ReadPartHeader(const uint8_t* block, uint32_t length, bool defaultMessage, PartHeader* out, MailText* subject,
                    MailText* date) {
    *out = PartHeader{};
    out->kind = defaultMessage ? MediaKind::Message : MediaKind::Text;
    TextClear(&out->name);
    NameParam typeName("name");
    NameParam filename("filename");
    bool typeSeen = false;
    bool dispositionSeen = false;
    bool encodingSeen = false;
    bool subjectSeen = false;
    bool dateSeen = false;

    uint32_t at = 0;
    while (at < length) {
        uint32_t end = at;
        while (end < length && block[end] != '\n') ++end;
        uint32_t colon = at;
        while (colon < end && block[colon] != ':') ++colon;
        if (colon < end) {
            const Span field = Trim(Span{block + at, colon - at});
            Span value{block + colon + 1, end - colon - 1};
            if (value.length > ValueReadBound) value.length = ValueReadBound;
            if (!typeSeen && Is(field, "content-type")) {
                typeSeen = true;
                ReadContentType(value, defaultMessage, out, &typeName);
            } else if (!dispositionSeen && Is(field, "content-disposition")) {
                dispositionSeen = true;
                ReadDisposition(value, out, &filename);
            } else if (!encodingSeen && Is(field, "content-transfer-encoding")) {
                encodingSeen = true;
                out->encoding = EncodingNamed(value);
            } else if (subject != nullptr && !subjectSeen && Is(field, "subject")) {
                subjectSeen = true;
                TextClear(subject);
                TextPutHeader(subject, value.data, value.length);
            } else if (date != nullptr && !dateSeen && Is(field, "date")) {
                dateSeen = true;
                TextClear(date);
                PutMailDate(date, value.data, value.length);
            }
        }
        at = end + 1;
    }
    if (!filename.Put(&out->name)) typeName.Put(&out->name);
}
