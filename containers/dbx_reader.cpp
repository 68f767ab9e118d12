// Outlook Express 5/6 message folders (.dbx). The file header points to the
// root of the message index, a tree whose values point to message infos;
// a message info's entry 0x04 points to the first block of the message's
// text, and each block to the next. Every object starts with its own
// offset, which is checked before anything else in it is believed. Messages
// deleted but not yet compacted away are in no index and are not read.
#include <cstdlib>
#include <memory>
#include <new>

#include "containers/mail_bounds.h"
#include "containers/mail_readers.h"
#include "containers/mail_window.h"
#include "containers/mime_parser.h"
#include "engine/bytes.h"

namespace {

// File header.
constexpr uint32_t HeaderMessageCount = 0xC4;
constexpr uint32_t HeaderRootNode = 0xE4;
constexpr uint32_t HeaderReadBytes = HeaderRootNode + 4;
// Tree node: marker, (unused), left child, parent, node id, entry count,
// (unused), values below the left child; then the entries: value, child,
// values below the child.
constexpr uint32_t NodeLeftChild = 8;
constexpr uint32_t NodeEntryCount = 17;
constexpr uint32_t NodeHeaderBytes = 0x18;
constexpr uint32_t NodeEntryBytes = 12;
static_assert(NodeHeaderBytes + DbxNodeEntryBound * NodeEntryBytes <= DbxNodeBytes, "entries fit the node");
// Message info (an "indexed info"): marker, body length, object length,
// index count, change count; then the index (one byte id, top bit set when
// the three bytes after it are the value itself, else the value's place
// in the data that follows the index).
constexpr uint32_t InfoBodyLength = 4;
constexpr uint32_t InfoIndexCount = 10;
constexpr uint32_t InfoHeaderBytes = 12;
constexpr uint8_t InfoFirstBlock = 0x04;
// Message block: marker, body length, text length in this block, next.
constexpr uint32_t BlockBodyLength = 4;
constexpr uint32_t BlockTextLength = 8;
constexpr uint32_t BlockNext = 12;
constexpr uint32_t BlockHeaderBytes = 16;
// Short loops are caught at their first step back once all their blocks
// were read, longer ones by Brent's method; all chains together may hold
// no more than the file.
constexpr uint32_t RecentBlocks = 64;

struct TreeLevel {
    uint32_t node = 0;
    uint32_t left = 0;
    uint32_t count = 0;
    uint32_t position = 0;  // 0: the left child is next; k: entry k - 1
    uint32_t values[DbxNodeEntryBound] = {};
    uint32_t children[DbxNodeEntryBound] = {};
};

struct DbxReading {
    DbxReading(const ByteSource& s, const MailTaker& taker) : source(s), parser(taker) {}

    const ByteSource& source;
    MimeParser parser;
    MailWindow index;
    MailWindow chain;
    ContainerOutcome outcome;
    TreeLevel levels[DbxTreeDepthBound + 1];
    uint32_t depth = 0;
    uint64_t nodesLeft = 0;
    uint64_t messagesLeft = 0;
    uint64_t chainBytesLeft = 0;
    uint64_t indexReadsLeft = 0;
    uint32_t message = 0;

    bool Damaged(uint64_t where, const char* why) {
        if (!outcome.damaged) {
            outcome.damaged = true;
            outcome.where = where;
            outcome.why = why;
        }
        return false;
    }

    // The object's bytes through window, or false with the damage noted.
    bool At(MailWindow* window, uint64_t offset, uint32_t length, const char* why, ByteView* view) {
        WindowFailure failure = WindowFailure::None;
        const uint8_t* data = WindowAt(window, offset, length, &failure);
        if (data == nullptr) return Damaged(offset, failure == WindowFailure::ReadError ? mail_why::ReadError : why);
        *view = ByteView{data, length};
        return true;
    }

    bool IndexAt(uint64_t offset, uint32_t length, const char* why, ByteView* view) {
        const uint64_t before = index.bytesRead;
        if (!At(&index, offset, length, why, view)) return false;
        const uint64_t spent = index.bytesRead - before;
        if (spent > indexReadsLeft) return Damaged(offset, why);
        indexReadsLeft -= spent;
        return true;
    }

    bool Walk(uint32_t root);
    bool Push(uint32_t node);
    bool Message(uint32_t info);
    bool FirstBlock(uint32_t info, uint32_t* block, bool* hasText);
    bool Chain(uint32_t block);
};

bool DbxReading::Push(uint32_t node) {
    if (depth > DbxTreeDepthBound || nodesLeft == 0) return Damaged(node, mail_why::BadIndex);
    --nodesLeft;
    // A node below itself would list its messages again and again.
    for (uint32_t k = 0; k < depth; ++k) {
        if (levels[k].node == node) return Damaged(node, mail_why::BadIndex);
    }
    ByteView head;
    if (!IndexAt(node, NodeHeaderBytes, mail_why::BadIndex, &head)) return false;
    uint32_t marker = 0;
    uint32_t left = 0;
    uint8_t count = 0;
    ReadLe32(head, 0, &marker);
    ReadLe32(head, NodeLeftChild, &left);
    ReadLe8(head, NodeEntryCount, &count);
    if (marker != node || count > DbxNodeEntryBound) return Damaged(node, mail_why::BadIndex);
    TreeLevel& level = levels[depth];
    level.node = node;
    level.left = left;
    level.count = count;
    level.position = 0;
    if (count > 0) {
        ByteView entries;
        if (!IndexAt(uint64_t{node} + NodeHeaderBytes, count * NodeEntryBytes, mail_why::BadIndex, &entries)) {
            return false;
        }
        for (uint32_t k = 0; k < count; ++k) {
            ReadLe32(entries, k * NodeEntryBytes, &level.values[k]);
            ReadLe32(entries, k * NodeEntryBytes + 4, &level.children[k]);
        }
    }
    ++depth;
    return true;
}

// In order: the left child's subtree, then each entry's value followed by
// its child's subtree, which is the order the folder lists its messages.
bool DbxReading::Walk(uint32_t root) {
    if (!Push(root)) return false;
    while (depth > 0) {
        TreeLevel& level = levels[depth - 1];
        if (level.position == 0) {
            level.position = 1;
            if (level.left != 0 && !Push(level.left)) return false;
            continue;
        }
        const uint32_t k = level.position - 1;
        if (k >= level.count) {
            --depth;
            continue;
        }
        ++level.position;
        if (messagesLeft == 0) return true;  // as many as the header counts
        --messagesLeft;
        if (!Message(level.values[k])) return false;
        if (level.children[k] != 0 && !Push(level.children[k])) return false;
    }
    return true;
}

bool DbxReading::FirstBlock(uint32_t info, uint32_t* block, bool* hasText) {
    *hasText = false;
    ByteView head;
    if (!IndexAt(info, InfoHeaderBytes, mail_why::BadMessageInfo, &head)) return false;
    uint32_t marker = 0;
    uint32_t bodyLength = 0;
    uint8_t count = 0;
    ReadLe32(head, 0, &marker);
    ReadLe32(head, InfoBodyLength, &bodyLength);
    ReadLe8(head, InfoIndexCount, &count);
    const uint32_t indexBytes = uint32_t{count} * 4;
    if (marker != info || indexBytes > bodyLength ||
        !SpanFits(source.size, uint64_t{info} + InfoHeaderBytes, bodyLength)) {
        return Damaged(info, mail_why::BadMessageInfo);
    }
    if (count == 0) return true;
    ByteView entries;
    if (!IndexAt(uint64_t{info} + InfoHeaderBytes, indexBytes, mail_why::BadMessageInfo, &entries)) return false;
    for (uint32_t k = 0; k < count; ++k) {
        uint32_t entry = 0;
        ReadLe32(entries, k * 4, &entry);
        if ((entry & 0x7Fu) != InfoFirstBlock) continue;
        const uint32_t value = entry >> 8;
        if ((entry & 0x80u) != 0) {
            *block = value;
        } else {
            const uint32_t dataLength = bodyLength - indexBytes;
            if (dataLength < 4 || value > dataLength - 4) return Damaged(info, mail_why::BadMessageInfo);
            ByteView data;
            const uint64_t at = uint64_t{info} + InfoHeaderBytes + indexBytes + value;
            if (!IndexAt(at, 4, mail_why::BadMessageInfo, &data)) return false;
            ReadLe32(data, 0, block);
        }
        *hasText = *block != 0;
        return true;
    }
    return true;
}

bool DbxReading::Chain(uint32_t block) {
    uint32_t recent[RecentBlocks] = {};
    uint32_t recentNext = 0;
    uint32_t tortoise = block;
    uint32_t power = 1;
    uint32_t steps = 0;
    while (block != 0) {
        ByteView head;
        if (!At(&chain, block, BlockHeaderBytes, mail_why::BadChain, &head)) return false;
        uint32_t marker = 0;
        uint32_t bodyLength = 0;
        uint32_t textLength = 0;
        uint32_t next = 0;
        ReadLe32(head, 0, &marker);
        ReadLe32(head, BlockBodyLength, &bodyLength);
        ReadLe32(head, BlockTextLength, &textLength);
        ReadLe32(head, BlockNext, &next);
        const uint64_t text = uint64_t{block} + BlockHeaderBytes;
        if (marker != block || textLength > bodyLength || !SpanFits(source.size, text, bodyLength)) {
            return Damaged(block, mail_why::BadChain);
        }
        uint64_t cost = uint64_t{BlockHeaderBytes} + bodyLength;
        if (cost < DbxBlockBytes) cost = DbxBlockBytes;
        if (cost > chainBytesLeft) return Damaged(block, mail_why::ChainLoop);
        chainBytesLeft -= cost;

        for (uint32_t done = 0; done < textLength;) {
            const uint32_t piece = textLength - done < chain.capacity ? textLength - done : chain.capacity;
            ByteView bytes;
            if (!At(&chain, text + done, piece, mail_why::BadChain, &bytes)) return false;
            if (!parser.Feed(bytes.data, piece)) return true;
            done += piece;
        }

        // A loop steps back somewhere (a chain that only goes forward
        // ends), so only a step back is looked up among the recent blocks.
        // A block offset is never 0 (the header lies there), so the empty
        // places of the ring match nothing but the chain's end.
        recent[recentNext] = block;
        recentNext = (recentNext + 1) % RecentBlocks;
        for (uint32_t k = 0; k < RecentBlocks && next != 0 && next <= block; ++k) {
            if (recent[k] == next) return Damaged(next, mail_why::ChainLoop);
        }
        if (next != 0 && next == tortoise) return Damaged(next, mail_why::ChainLoop);
        if (++steps == power) {
            tortoise = next;
            power = power < (1u << 30) ? power * 2 : power;
            steps = 0;
        }
        block = next;
    }
    return true;
}

bool DbxReading::Message(uint32_t info) {
    uint32_t block = 0;
    bool hasText = false;
    if (info == 0) return Damaged(info, mail_why::BadIndex);
    if (!FirstBlock(info, &block, &hasText)) return false;
    const uint32_t ordinal = message++;
    if (!hasText) return true;
    parser.Begin(ordinal);
    const bool whole = Chain(block);
    // What the message held before any damage is handed over.
    parser.Finish();
    if (parser.stopped()) return false;
    return whole;
}

}  // namespace

ContainerOutcome ReadDbx(const ByteSource& source, const MailTaker& taker) {
    std::unique_ptr<DbxReading> reading(new (std::nothrow) DbxReading(source, taker));
    std::unique_ptr<uint8_t[]> indexBuffer(new (std::nothrow) uint8_t[DbxIndexWindowBytes]);
    std::unique_ptr<uint8_t[]> chainBuffer(new (std::nothrow) uint8_t[MailChunkBytes]);
    if (!reading || !indexBuffer || !chainBuffer || !reading->parser.Prepare()) {
        ContainerOutcome outcome;
        outcome.damaged = true;
        outcome.why = mail_why::NoMemory;
        return outcome;
    }
    DbxReading& r = *reading;
    r.index = MailWindow{&source, indexBuffer.get(), DbxIndexWindowBytes, 0, 0, 0};
    r.chain = MailWindow{&source, chainBuffer.get(), MailChunkBytes, 0, 0, 0};
    // In a sound folder these objects are disjoint, so the file's size
    // bounds their number and the bytes of all chains.
    r.nodesLeft = source.size / DbxNodeBytes;
    r.chainBytesLeft = source.size;
    r.indexReadsLeft = 16 * source.size + (1u << 20);

    static const uint8_t magic[8] = {0xCF, 0xAD, 0x12, 0xFE, 0xC5, 0xFD, 0x74, 0x6F};
    ByteView header;
    if (source.size < DbxHeaderBytes || !r.At(&r.index, 0, HeaderReadBytes, mail_why::BadHeader, &header)) {
        r.Damaged(0, mail_why::BadHeader);
    } else {
        bool ours = true;
        for (uint32_t i = 0; i < 8; ++i) ours = ours && header.data[i] == magic[i];
        uint32_t count = 0;
        uint32_t root = 0;
        ReadLe32(header, HeaderMessageCount, &count);
        ReadLe32(header, HeaderRootNode, &root);
        r.messagesLeft = count;
        if (!ours) {
            r.Damaged(0, mail_why::BadHeader);
        } else if (root != 0 && count != 0) {
            r.Walk(root);
        }
    }
    r.outcome.items = r.parser.items();
    r.outcome.notExamined = r.parser.notExamined();
    r.outcome.stopped = r.parser.stopped();
    return r.outcome;
}
