// The archive readers over arbitrary bytes: as a ZIP archive, and behind the
// RAR 4 and RAR5 signatures, so that the fuzzer starts inside the header
// chains. Every item must keep the interface's promises, the readings must
// end, and a sink that stops must stop them at once.

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "containers/archive.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "archive_fuzz: %s\n", what);
    std::abort();
}

bool ValidUtf8(const char* text) {
    const auto* p = reinterpret_cast<const unsigned char*>(text);
    while (*p != 0) {
        unsigned count = 0;
        uint32_t value = 0;
        if (*p < 0x80) {
            ++p;
            continue;
        } else if (*p >= 0xC2 && *p <= 0xDF) {
            count = 1, value = *p & 0x1Fu;
        } else if (*p >= 0xE0 && *p <= 0xEF) {
            count = 2, value = *p & 0x0Fu;
        } else if (*p >= 0xF0 && *p <= 0xF4) {
            count = 3, value = *p & 0x07u;
        } else {
            return false;
        }
        for (unsigned i = 1; i <= count; ++i) {
            if ((p[i] & 0xC0) != 0x80) return false;
            value = (value << 6) | (p[i] & 0x3Fu);
        }
        const uint32_t least = count == 1 ? 0x80 : count == 2 ? 0x800 : 0x10000;
        if (value < least || value > 0x10FFFF || (value >= 0xD800 && value <= 0xDFFF)) return false;
        p += count + 1;
    }
    return true;
}

struct Tally {
    uint32_t items = 0;
    uint32_t stopAfter = UINT32_MAX;
};

bool Check(void* context, const ContainedItem& item) {
    auto* tally = static_cast<Tally*>(context);
    if (tally->items >= tally->stopAfter) Fail("an item after the sink said stop");
    if (item.data == nullptr || item.name == nullptr) Fail("a null item field");
    if (item.size > ItemBound) Fail("an item past ItemBound");
    if (item.depth >= MostArchiveDepth) Fail("an item too deep");
    if (std::strlen(item.name) > ItemTextBound) Fail("a name past ItemTextBound");
    if (!ValidUtf8(item.name)) Fail("a name that is not UTF-8");
    if (item.size != 0) {
        // Every byte handed over must be readable (ASan watches).
        volatile uint8_t touch = static_cast<uint8_t>(item.data[0] ^ item.data[item.size - 1]);
        (void)touch;
    }
    ++tally->items;
    return tally->items < tally->stopAfter;
}

void ReadAs(ContainerKind kind, const std::vector<uint8_t>& bytes) {
    const MemoryBytes memory{bytes.data(), bytes.size()};
    const ByteSource source = MemorySource(&memory);
    Tally all;
    const ContainerOutcome outcome = ReadArchive(kind, source, 0, Check, &all);
    if (outcome.items != all.items) Fail("the outcome miscounts the items");
    if (outcome.stopped) Fail("stopped by a sink that never said stop");
    if (outcome.damaged && outcome.why[0] == '\0') Fail("damage without a reason");

    Tally first;
    first.stopAfter = 1;
    const ContainerOutcome stopped = ReadArchive(kind, source, 0, Check, &first);
    if (stopped.items != first.items || stopped.stopped != (first.items == 1)) Fail("the sink's stop was not kept");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    static const uint8_t rar4[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
    static const uint8_t rar5[] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};
    const std::vector<uint8_t> plain(data, data + size);
    ReadAs(ContainerKind::Zip, plain);
    std::vector<uint8_t> behind(rar4, rar4 + sizeof rar4);
    behind.insert(behind.end(), data, data + size);
    ReadAs(ContainerKind::Rar4, behind);
    behind.assign(rar5, rar5 + sizeof rar5);
    behind.insert(behind.end(), data, data + size);
    ReadAs(ContainerKind::Rar5, behind);

    // The search after a program finds only what recognition would.
    const MemoryBytes memory{data, size};
    ContainerKind appended = ContainerKind::None;
    uint64_t start = 0;
    const uint64_t programEnd = size == 0 ? 0 : data[0] % size;
    if (FindAppendedArchive(MemorySource(&memory), programEnd, &appended, &start)) {
        if (start < programEnd || start >= size) Fail("an appended archive outside the file");
        const uint32_t left = static_cast<uint32_t>(size - start < 4096 ? size - start : 4096);
        if (RecognizeArchive(data + start, left) != appended) Fail("an appended archive that recognition refuses");
    }
    return 0;
}
