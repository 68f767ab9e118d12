#include "tests/support/mail_samples.h"

#include <cstddef>

namespace synth {

namespace {

const char Alphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

char UuChar(uint32_t sixBits) { return sixBits == 0 ? '`' : static_cast<char>(32 + sixBits); }

const char* EncodingName(MailEncoding encoding) {
    switch (encoding) {
        case MailEncoding::Base64: return "base64";
        case MailEncoding::QuotedPrintable: return "quoted-printable";
        case MailEncoding::Uuencode: return "x-uuencode";
        case MailEncoding::Binary: return "binary";
    }
    return "7bit";
}

}  // namespace

Bytes ToBytes(const std::string& text) { return Bytes(text.begin(), text.end()); }

std::string Base64Lines(const Bytes& bytes, size_t lineLength) {
    std::string text;
    std::string line;
    for (size_t i = 0; i < bytes.size(); i += 3) {
        const size_t left = bytes.size() - i;
        const uint32_t v = (uint32_t{bytes[i]} << 16) | (left > 1 ? uint32_t{bytes[i + 1]} << 8 : 0u) |
                           (left > 2 ? uint32_t{bytes[i + 2]} : 0u);
        line += Alphabet[(v >> 18) & 63];
        line += Alphabet[(v >> 12) & 63];
        line += left > 1 ? Alphabet[(v >> 6) & 63] : '=';
        line += left > 2 ? Alphabet[v & 63] : '=';
        if (line.size() >= lineLength) {
            text += line + "\r\n";
            line.clear();
        }
    }
    if (!line.empty()) text += line + "\r\n";
    return text;
}

std::string QuotedPrintableLines(const Bytes& bytes) {
    static const char hex[] = "0123456789ABCDEF";
    std::string text;
    size_t column = 0;
    for (const uint8_t b : bytes) {
        std::string piece;
        if (b >= 33 && b <= 126 && b != '=') {
            piece = std::string(1, static_cast<char>(b));
        } else {
            piece = std::string("=") + hex[b >> 4] + hex[b & 15];
        }
        if (column + piece.size() > 75) {
            text += "=\r\n";
            column = 0;
        }
        text += piece;
        column += piece.size();
    }
    return text;  // the last line's break is the boundary's
}

std::string UuencodeBlock(const Bytes& bytes, const std::string& name) {
    std::string text = "begin 644 " + name + "\r\n";
    for (size_t i = 0; i < bytes.size(); i += 45) {
        const size_t count = bytes.size() - i < 45 ? bytes.size() - i : 45;
        std::string line(1, UuChar(static_cast<uint32_t>(count)));
        for (size_t k = 0; k < count; k += 3) {
            const uint32_t v = (uint32_t{bytes[i + k]} << 16) |
                               (k + 1 < count ? uint32_t{bytes[i + k + 1]} << 8 : 0u) |
                               (k + 2 < count ? uint32_t{bytes[i + k + 2]} : 0u);
            for (int shift = 18; shift >= 0; shift -= 6) line += UuChar((v >> shift) & 63);
        }
        text += line + "\r\n";
    }
    return text + "`\r\nend\r\n";
}

std::string AttachmentPart(const MailAttachment& attachment) {
    std::string part = "Content-Type: " + attachment.contentType + "\r\n";
    part += std::string("Content-Transfer-Encoding: ") + EncodingName(attachment.encoding) + "\r\n";
    if (!attachment.disposition.empty()) part += "Content-Disposition: " + attachment.disposition + "\r\n";
    part += "\r\n";
    switch (attachment.encoding) {
        case MailEncoding::Base64:
            return part + Base64Lines(attachment.bytes);
        case MailEncoding::QuotedPrintable:
            return part + QuotedPrintableLines(attachment.bytes);
        case MailEncoding::Uuencode:
            return part + UuencodeBlock(attachment.bytes, "file.bin");
        case MailEncoding::Binary:
            return part + std::string(attachment.bytes.begin(), attachment.bytes.end());
    }
    return part;
}

std::string TextPart(const std::string& type, const std::string& text) {
    return "Content-Type: " + type + "; charset=\"iso-8859-1\"\r\nContent-Transfer-Encoding: 7bit\r\n\r\n" + text;
}

std::string MultipartPart(const std::string& subtype, const std::string& boundary,
                          const std::vector<std::string>& parts) {
    std::string text = "Content-Type: multipart/" + subtype + ";\r\n\tboundary=\"" + boundary + "\"\r\n\r\n";
    text += "This is a multi-part message in MIME format.\r\n";
    // The line break before each boundary is the boundary's own.
    for (const std::string& part : parts) text += "\r\n--" + boundary + "\r\n" + part;
    return text + "\r\n--" + boundary + "--\r\n\r\n";
}

std::string ForwardedPart(const std::string& message) {
    return "Content-Type: message/rfc822\r\nContent-Disposition: inline\r\n\r\n" + message;
}

std::string MailMessage(const MailHeader& header, const std::string& content) {
    std::string text = "Received: from mail.example.com by mx.example.com; " + header.date + "\r\n";
    text += "From: " + header.from + "\r\n";
    text += "To: " + header.to + "\r\n";
    text += "Subject: " + header.subject + "\r\n";
    if (!header.date.empty()) text += "Date: " + header.date + "\r\n";
    text += "MIME-Version: 1.0\r\n";
    return text + content;
}

std::string WormStyleMessage(const Bytes& program, const std::string& name, const MailHeader& header) {
    MailAttachment attachment;
    attachment.bytes = program;
    attachment.contentType = "audio/x-wav;\r\n\tname=" + name;
    attachment.encoding = MailEncoding::Base64;
    const std::string html = TextPart("text/html", "<HTML><BODY><iframe src=3Dcid:EA4DMGBP9p height=3D0 width=3D0>"
                                                   "</iframe></BODY></HTML>\r\n");
    return MailMessage(header, MultipartPart("alternative", "====_ABC1234567890DEF_====",
                                             {html, "Content-ID: <EA4DMGBP9p>\r\n" + AttachmentPart(attachment)}));
}

std::string WithLf(const std::string& crlfText) {
    std::string text;
    text.reserve(crlfText.size());
    for (size_t i = 0; i < crlfText.size(); ++i) {
        if (crlfText[i] == '\r' && i + 1 < crlfText.size() && crlfText[i + 1] == '\n') continue;
        text += crlfText[i];
    }
    return text;
}

Bytes MakeMbox(const std::vector<std::string>& messages, bool crlf) {
    std::string text;
    for (size_t i = 0; i < messages.size(); ++i) {
        const std::string postmark = "From sender" + std::to_string(i) + "@example.com Sun May 12 10:20:30 2002\r\n";
        text += postmark + messages[i];
        if (!messages[i].empty() && messages[i].back() != '\n') text += "\r\n";
        text += "\r\n";
    }
    return ToBytes(crlf ? text : WithLf(text));
}

// ------------------------------------------------------------ .dbx

namespace {

constexpr uint32_t FileMessageCount = 0xC4;  // int4 number 0x31 of the header
constexpr uint32_t FileRootNode = 0xE4;      // int4 number 0x39
constexpr uint32_t BlockSize = 0x210;
constexpr uint32_t BlockBody = 0x200;
constexpr uint32_t NodeSize = 0x27C;

const uint8_t ClassTail[] = {0x66, 0xE3, 0xD1, 0x11, 0x9A, 0x4E, 0x00, 0xC0, 0x4F, 0xA3, 0x09, 0xD4, 0x05};

void Grow(Bytes& file, size_t size) {
    if (file.size() < size) file.resize(size, 0);
}

uint32_t Put24(uint8_t id, uint32_t value) { return uint32_t{id} | (value << 8); }

// A tree node of the index: values in order, with the subtree before each
// (the left child for the first, each entry's child for the next).
struct Node {
    int left = -1;
    std::vector<uint32_t> values;  // message numbers
    std::vector<int> children;
    uint32_t parent = 0;
    uint32_t offset = 0;
    uint32_t below = 0;  // values in this subtree
};

int BuildNodes(std::vector<Node>& nodes, uint32_t first, uint32_t count, uint32_t fanout) {
    const int index = static_cast<int>(nodes.size());
    nodes.emplace_back();
    if (count <= fanout) {
        for (uint32_t k = 0; k < count; ++k) {
            nodes[static_cast<size_t>(index)].values.push_back(first + k);
            nodes[static_cast<size_t>(index)].children.push_back(-1);
        }
        nodes[static_cast<size_t>(index)].below = count;
        return index;
    }
    // fanout values here, the others shared among fanout + 1 subtrees.
    const uint32_t rest = count - fanout;
    uint32_t next = first;
    for (uint32_t s = 0; s <= fanout; ++s) {
        const uint32_t size = rest / (fanout + 1) + (s < rest % (fanout + 1) ? 1 : 0);
        const int child = size > 0 ? BuildNodes(nodes, next, size, fanout) : -1;
        next += size;
        if (s == 0) {
            nodes[static_cast<size_t>(index)].left = child;
        } else {
            nodes[static_cast<size_t>(index)].children.push_back(child);
        }
        if (s < fanout) nodes[static_cast<size_t>(index)].values.push_back(next++);
    }
    nodes[static_cast<size_t>(index)].below = count;
    return index;
}

}  // namespace

Bytes MakeDbx(const std::vector<std::string>& messages, const DbxOptions& options, DbxLayout* layout) {
    DbxLayout local;
    DbxLayout& out = layout != nullptr ? *layout : local;
    out = DbxLayout{};
    const uint32_t perBlock = options.textPerBlock == 0 || options.textPerBlock > BlockBody ? BlockBody
                                                                                             : options.textPerBlock;
    const uint32_t fanout = options.entriesPerNode == 0 || options.entriesPerNode > 0x33 ? 0x33
                                                                                         : options.entriesPerNode;
    std::vector<Node> nodes;
    if (!messages.empty()) BuildNodes(nodes, 0, static_cast<uint32_t>(messages.size()), fanout);

    // Message infos (indexed infos): the index, then the data it points into.
    struct Info {
        std::vector<uint32_t> index;
        Bytes data;
        size_t firstBlockEntry = 0;
        uint32_t offset = 0;
        uint32_t Body() const { return static_cast<uint32_t>(index.size() * 4 + data.size()); }
    };
    std::vector<Info> infos(messages.size());
    for (size_t m = 0; m < messages.size(); ++m) {
        Info& info = infos[m];
        info.index.push_back(Put24(0x80, static_cast<uint32_t>(m + 1)));  // 0x00: number, direct
        info.index.push_back(Put24(0x81, 0x81));                          // 0x01: flags, direct
        // 0x04: the first block, in the index itself when it fits its
        // three bytes, else in the data; room is kept for either.
        info.firstBlockEntry = info.index.size();
        info.index.push_back(0);
        Grow(info.data, info.data.size() + 4);
        info.index.push_back(Put24(0x08, static_cast<uint32_t>(info.data.size())));  // 0x08: subject
        for (const char c : "message " + std::to_string(m)) info.data.push_back(static_cast<uint8_t>(c));
        info.data.push_back(0);
        while (info.data.size() % 4 != 0) info.data.push_back(0);
    }

    // Where everything goes: the header, then the chains (deleted ones
    // too) and the index, in the order asked for.
    std::vector<std::string> chains = messages;
    chains.insert(chains.end(), options.deleted.begin(), options.deleted.end());
    std::vector<std::vector<uint32_t>> blocks(chains.size());
    uint32_t end = DbxFileHeaderSize;
    auto placeIndex = [&]() {
        for (Info& info : infos) {
            info.offset = end;
            end += 12 + info.Body();
        }
        for (Node& node : nodes) {
            node.offset = end;
            end += NodeSize;
        }
    };
    auto placeChains = [&]() {
        for (size_t c = 0; c < chains.size(); ++c) {
            const size_t count = chains[c].empty() ? 1 : (chains[c].size() + perBlock - 1) / perBlock;
            for (size_t k = 0; k < count; ++k) {
                const size_t place = options.blocksBackwards ? count - 1 - k : k;
                blocks[c].push_back(end + static_cast<uint32_t>(place) * BlockSize);
            }
            end += static_cast<uint32_t>(count) * BlockSize;
        }
    };
    if (options.indexFirst) {
        placeIndex();
        placeChains();
    } else {
        placeChains();
        placeIndex();
    }

    Bytes file(end, 0);
    const uint8_t head[] = {0xCF, 0xAD, 0x12, 0xFE, static_cast<uint8_t>(options.folderList ? 0xC6 : 0xC5),
                            0xFD, 0x74, 0x6F};
    for (size_t i = 0; i < sizeof head; ++i) file[i] = head[i];
    for (size_t i = 0; i < sizeof ClassTail; ++i) file[8 + i] = ClassTail[i];

    // Blocks: marker, body length, text in this block, next block.
    for (size_t c = 0; c < chains.size(); ++c) {
        const std::string& text = chains[c];
        for (size_t k = 0; k < blocks[c].size(); ++k) {
            const uint32_t at = blocks[c][k];
            const size_t start = k * perBlock;
            const size_t length = text.empty() ? 0 : (text.size() - start < perBlock ? text.size() - start : perBlock);
            PutLe32(file, at, at);
            PutLe32(file, at + 4, BlockBody);
            PutLe32(file, at + 8, static_cast<uint32_t>(length));
            PutLe32(file, at + DbxBlockNextField, k + 1 < blocks[c].size() ? blocks[c][k + 1] : 0u);
            for (size_t j = 0; j < length; ++j) file[at + 16 + j] = static_cast<uint8_t>(text[start + j]);
        }
    }
    // Infos: marker, body length, object length, index count, changes.
    for (size_t m = 0; m < infos.size(); ++m) {
        Info& info = infos[m];
        if (options.firstBlockInData || blocks[m][0] >= (1u << 24)) {
            info.index[info.firstBlockEntry] = Put24(0x04, 0);
            PutLe32(info.data, 0, blocks[m][0]);
        } else {
            info.index[info.firstBlockEntry] = Put24(0x84, blocks[m][0]);
        }
        PutLe32(file, info.offset, info.offset);
        PutLe32(file, info.offset + 4, info.Body());
        PutLe16(file, info.offset + 8, static_cast<uint16_t>(12 + info.Body()));
        file[info.offset + 10] = static_cast<uint8_t>(info.index.size());
        file[info.offset + 11] = 1;
        for (size_t k = 0; k < info.index.size(); ++k) PutLe32(file, info.offset + 12 + k * 4, info.index[k]);
        for (size_t k = 0; k < info.data.size(); ++k) file[info.offset + 12 + info.index.size() * 4 + k] = info.data[k];
        out.infos.push_back(info.offset);
    }
    // Nodes: marker, (unused), left child, parent, node id, entry count,
    // (unused), values below the left child; entries of value, child and
    // values below the child.
    auto offsetOf = [&](int n) { return n < 0 ? 0u : nodes[static_cast<size_t>(n)].offset; };
    auto belowOf = [&](int n) { return n < 0 ? 0u : nodes[static_cast<size_t>(n)].below; };
    for (Node& node : nodes) {
        if (node.left >= 0) nodes[static_cast<size_t>(node.left)].parent = node.offset;
        for (const int child : node.children) {
            if (child >= 0) nodes[static_cast<size_t>(child)].parent = node.offset;
        }
    }
    for (const Node& node : nodes) {
        PutLe32(file, node.offset, node.offset);
        PutLe32(file, node.offset + DbxNodeLeftChildField, offsetOf(node.left));
        PutLe32(file, node.offset + 12, node.parent);
        file[node.offset + 17] = static_cast<uint8_t>(node.values.size());
        PutLe32(file, node.offset + 20, belowOf(node.left));
        for (size_t k = 0; k < node.values.size(); ++k) {
            const size_t entry = node.offset + 0x18 + k * 12;
            PutLe32(file, entry, infos[node.values[k]].offset);
            PutLe32(file, entry + 4, offsetOf(node.children[k]));
            PutLe32(file, entry + 8, belowOf(node.children[k]));
        }
        out.nodes.push_back(node.offset);
    }
    out.root = nodes.empty() ? 0 : nodes[0].offset;
    out.blocks.assign(blocks.begin(), blocks.begin() + static_cast<std::ptrdiff_t>(messages.size()));
    PutLe32(file, FileMessageCount, static_cast<uint32_t>(messages.size()));
    PutLe32(file, FileRootNode, out.root);
    return file;
}

}  // namespace synth
