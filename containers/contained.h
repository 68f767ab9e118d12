// What the readers of foreign formats (mail folders, archives) share: bytes
// come in through a ByteSource, and what lies inside comes out one item at a
// time through an ItemSink. The readers know nothing of files, rows or the
// scan; the scan examines each item as it would a file.
#pragma once

#include <cstddef>
#include <cstdint>

// Random access to the container's bytes: a file, or memory (an archive
// inside an archive). readAt returns how many bytes it placed in buffer;
// fewer than count only at the end or on a read error.
struct ByteSource {
    const void* context = nullptr;
    uint32_t (*readAt)(const void* context, uint64_t offset, void* buffer, uint32_t count) = nullptr;
    uint64_t size = 0;
};

// The one check of a span a file names: length <= size && offset <= size -
// length, which cannot wrap, for 64-bit offsets.
inline bool SpanFits(uint64_t size, uint64_t offset, uint64_t length) {
    return length <= size && offset <= size - length;
}

// A source over bytes in memory, which must outlive it.
struct MemoryBytes {
    const uint8_t* data;
    size_t size;
};
ByteSource MemorySource(const MemoryBytes* bytes);

// The most bytes of one item that are decoded and handed over: detection
// reads the headers and at most 36 KiB of a worm, and an Elkern host's
// body wherever its entry point leads. An item larger than this is handed
// over cut (its first ItemBound bytes) and examined as far as they reach.
constexpr uint32_t ItemBound = 8u << 20;
// Names, subjects and dates are cut to this many bytes.
constexpr uint32_t ItemTextBound = 255;

struct ContainedItem {
    const uint8_t* data = nullptr;  // valid only during the call of the sink
    uint32_t size = 0;              // at most ItemBound
    // Not all of the item's bytes are here: it had more than ItemBound; or
    // it is a mail attachment that does not begin as a program ("MZ"),
    // handed over with only its first bytes, cut, since nothing in it
    // could be found; or the reader was told by an ItemReach that no more
    // of it is wanted. An attachment shorter than two bytes comes whole.
    bool cut = false;

    // UTF-8, NUL-terminated, at most ItemTextBound bytes, never null. Data
    // only: a name may hold "..", a drive letter, a separator or control
    // bytes; whoever shows it escapes what it must.
    const char* name = "";     // the attachment's file name, or the entry's path inside the archive
    const char* subject = "";  // mail: the message's subject, RFC 2047 words decoded
    const char* date = "";     // mail: the message's date, "dd/mm/yyyy" when it could be read
    uint32_t message = 0;      // mail: the message's number in its folder, from 0

    bool crcMismatch = false;  // archive: the stored CRC-32 does not match the bytes
    uint32_t depth = 0;        // archive: 0 for an entry of the file itself, 1 inside an entry, ...
};

// How many leading bytes of an item whoever takes the items will read,
// asked with the first size bytes decoded so far. A reader that is told
// no more than size stops decoding that item and hands it over cut: what
// follows is not wanted.
using ItemReach = uint64_t (*)(const uint8_t* data, size_t size);

// Called for each item in the order the container holds them; false stops
// the reading (a scan that is stopped).
using ItemSink = bool (*)(void* context, const ContainedItem& item);

// How a reading ended. A damaged container has handed over what it held
// before the damage; where and why say what stopped it (why is a constant
// text in Spanish without accents, for a row).
struct ContainerOutcome {
    bool damaged = false;
    uint64_t where = 0;
    const char* why = "";
    bool stopped = false;        // the sink said stop
    uint32_t items = 0;          // items handed over
    uint32_t notExamined = 0;    // entries that are compressed in a way not read (RAR)
};
