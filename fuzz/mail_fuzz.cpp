// Arbitrary bytes read as each kind of mail file (and recognised from
// their first bytes): every item the readers hand over stays within its
// bounds, its texts are valid UTF-8 of at most ItemTextBound bytes, the
// outcome counts what was handed over, and nothing is read outside the
// bytes (ASan watches). Each kind is read twice: with every attachment
// decoded whole, and only as far as detection reads it, where a program
// comes cut short of its bound only when detection reads no further.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <initializer_list>

#include "containers/mail.h"
#include "engine/detectors.h"

namespace {

void Fail(const char* what) {
    std::fprintf(stderr, "mail_fuzz: %s\n", what);
    std::abort();
}

bool ValidUtf8(const char* text) {
    const auto* p = reinterpret_cast<const uint8_t*>(text);
    const size_t length = std::strlen(text);
    if (length > ItemTextBound) return false;
    for (size_t i = 0; i < length;) {
        const uint8_t b = p[i];
        uint32_t need = 0;
        uint32_t cp = 0;
        uint32_t lowest = 0;
        if (b < 0x80) {
            ++i;
            continue;
        } else if (b >= 0xC2 && b <= 0xDF) {
            need = 1, cp = b & 0x1Fu, lowest = 0x80;
        } else if (b >= 0xE0 && b <= 0xEF) {
            need = 2, cp = b & 0x0Fu, lowest = 0x800;
        } else if (b >= 0xF0 && b <= 0xF4) {
            need = 3, cp = b & 0x07u, lowest = 0x10000;
        } else {
            return false;
        }
        if (length - i <= need) return false;
        for (uint32_t k = 1; k <= need; ++k) {
            if ((p[i + k] & 0xC0u) != 0x80u) return false;
            cp = (cp << 6) | (p[i + k] & 0x3Fu);
        }
        if (cp < lowest || cp > 0x10FFFF || (cp >= 0xD800 && cp <= 0xDFFF)) return false;
        i += need + 1;
    }
    return true;
}

struct Tally {
    bool reach = false;
    uint32_t items = 0;
    uint64_t checksum = 0;
};

bool Check(void* context, const ContainedItem& item) {
    auto* tally = static_cast<Tally*>(context);
    if (item.size > ItemBound) Fail("an item larger than its bound");
    if (item.size > 0 && item.data == nullptr) Fail("an item without its bytes");
    // An attachment is cut at its bound, or after its first bytes when they
    // do not begin a program.
    const bool program = item.size >= 2 && item.data[0] == 'M' && item.data[1] == 'Z';
    if (item.cut && item.size != ItemBound && (program || item.size < 2) &&
        (!tally->reach || !program || DetectionReach(item.data, item.size) > item.size)) {
        Fail("a cut item short of its bound");
    }
    if (item.name == nullptr || item.subject == nullptr || item.date == nullptr) Fail("a null text");
    if (!ValidUtf8(item.name) || !ValidUtf8(item.subject) || !ValidUtf8(item.date)) Fail("a text not valid UTF-8");
    // Every byte handed over is read, so that ASan sees any that is not
    // the readers' to give.
    for (uint32_t i = 0; i < item.size; ++i) tally->checksum += item.data[i];
    ++tally->items;
    return tally->items < 64;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const uint32_t head = size < 4096 ? static_cast<uint32_t>(size) : 4096u;
    const ContainerKind recognised = RecognizeMail(data, head);
    if (recognised != ContainerKind::None && recognised != ContainerKind::OutlookExpress &&
        recognised != ContainerKind::Mbox && recognised != ContainerKind::MailMessage) {
        Fail("recognised as something not mail");
    }
    const MemoryBytes bytes{data, size};
    const ByteSource source = MemorySource(&bytes);
    for (const ContainerKind kind : {ContainerKind::OutlookExpress, ContainerKind::Mbox, ContainerKind::MailMessage}) {
        for (const bool reach : {false, true}) {
            Tally tally;
            tally.reach = reach;
            const ContainerOutcome outcome = ReadMail(kind, source, Check, &tally, reach ? DetectionReach : nullptr);
            if (outcome.items != tally.items) Fail("the outcome counts other items than were handed over");
            if (outcome.stopped != (tally.items >= 64)) Fail("stopped without the sink saying so");
            if (outcome.why == nullptr || (outcome.damaged && outcome.why[0] == '\0')) Fail("damage without a reason");
        }
    }
    return 0;
}
