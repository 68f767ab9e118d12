// Every bound the mail readers keep, in one place. A mail folder is hostile
// input: whatever it holds, reading it costs memory in proportion to these
// numbers and time in proportion to the folder's size, never more.
#pragma once

#include <cstdint>

// Bytes read from an mbox or a single message at a time, and the window
// through which an Outlook Express folder's chains of blocks are read.
constexpr uint32_t MailChunkBytes = 64u << 10;

// A line the parser needs whole (a header, a boundary, a uuencoded line)
// and that straddles two reads is gathered up to this many bytes; a longer
// line is handled in pieces of this size, never grown.
constexpr uint32_t MailLineBound = 8u << 10;

// The unfolded header fields of one message or part; what a longer block
// holds beyond this is ignored.
constexpr uint32_t MailHeaderBound = 64u << 10;

// Multiparts and forwarded messages open inside one another. A part nested
// deeper is not examined (it is counted as such).
constexpr uint32_t MailNestingBound = 16;

// The bytes of one multipart boundary (RFC 2046 allows 70); a multipart
// with a longer one is not examined.
constexpr uint32_t MailBoundaryBound = 200;

// Bytes of adjacent RFC 2047 encoded words, or of an RFC 2231 name's
// pieces, gathered before they are converted to UTF-8.
constexpr uint32_t MailWordBound = 1024;

// Outlook Express folders. The header is read whole; tree nodes and message
// blocks have the sizes the format gives them.
constexpr uint32_t DbxHeaderBytes = 0x24BC;
constexpr uint32_t DbxNodeBytes = 0x27C;
constexpr uint32_t DbxNodeEntryBound = 0x33;  // what a node's body has room for
constexpr uint32_t DbxBlockBytes = 0x210;
// Levels of the message index below its root.
constexpr uint32_t DbxTreeDepthBound = 32;
// The index is read through a window of its own, so that walking it does
// not throw away the chain window; a read outside a window that does not
// continue it reads only this much.
constexpr uint32_t DbxIndexWindowBytes = 16u << 10;
constexpr uint32_t DbxScatteredReadBytes = 4u << 10;
// In a sound folder, tree nodes, message infos and blocks are disjoint
// objects of at least these sizes, so their counts never exceed the
// folder's size divided by them, and the blocks of all chains together
// never hold more bytes than the folder. Each block is counted at least
// DbxBlockBytes, so that a folder of tiny scattered blocks cannot cost more
// than a few reads of itself.
constexpr uint32_t DbxSmallestMessageBytes = DbxBlockBytes + 12;
