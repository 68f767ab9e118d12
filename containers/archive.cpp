#include "containers/archive.h"

#include <cstdlib>
#include <cstring>

#include "containers/archive_limits.h"
#include "containers/archive_run.h"
#include "containers/archive_texts.h"

namespace {

constexpr uint8_t ZipLocalMark[4] = {'P', 'K', 3, 4};
constexpr uint8_t ZipEndMark[4] = {'P', 'K', 5, 6};
constexpr uint8_t Rar4Mark[7] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x00};
constexpr uint8_t Rar5Mark[8] = {0x52, 0x61, 0x72, 0x21, 0x1A, 0x07, 0x01, 0x00};

bool StartsWith(const uint8_t* data, uint32_t length, const uint8_t* mark, uint32_t markLength) {
    return length >= markLength && std::memcmp(data, mark, markLength) == 0;
}

// An archive that starts at data: the marks a reader begins with. The end
// record alone is an empty ZIP archive, and must be whole.
ContainerKind ArchiveAt(const uint8_t* data, uint32_t length, bool emptyZip) {
    if (StartsWith(data, length, ZipLocalMark, 4)) return ContainerKind::Zip;
    if (emptyZip && length >= ZipEndRecordSize && StartsWith(data, length, ZipEndMark, 4)) return ContainerKind::Zip;
    if (StartsWith(data, length, Rar4Mark, sizeof Rar4Mark)) return ContainerKind::Rar4;
    if (StartsWith(data, length, Rar5Mark, sizeof Rar5Mark)) return ContainerKind::Rar5;
    return ContainerKind::None;
}

void FreeRun(ArchiveRun* run) {
    for (ArchiveLevel& level : run->levels) {
        FreeItem(&level.item);
        for (uint8_t*& window : level.windows) {
            std::free(window);
            window = nullptr;
        }
    }
    CloseInflate(run->inflate);
    run->inflate = nullptr;
}

}  // namespace

ContainerKind RecognizeArchive(const uint8_t* head, uint32_t length) {
    if (head == nullptr) return ContainerKind::None;
    return ArchiveAt(head, length, true);
}

bool FindAppendedArchive(const ByteSource& source, uint64_t programEnd, ContainerKind* kind, uint64_t* start) {
    if (programEnd >= source.size) return false;
    const uint64_t left = source.size - programEnd;
    const uint32_t count = left < AppendedArchiveWindow ? static_cast<uint32_t>(left) : AppendedArchiveWindow;
    auto* buffer = static_cast<uint8_t*>(std::malloc(count));
    if (buffer == nullptr) return false;
    uint32_t got = source.readAt(source.context, programEnd, buffer, count);
    if (got > count) got = count;
    bool found = false;
    for (uint32_t at = 0; at < got && !found; ++at) {
        const ContainerKind here = ArchiveAt(buffer + at, got - at, false);
        if (here != ContainerKind::None) {
            *kind = here;
            *start = programEnd + at;
            found = true;
        }
    }
    std::free(buffer);
    return found;
}

void ReadLevel(ArchiveRun* run, ContainerKind kind, const ByteSource& source, uint64_t start, uint32_t depth) {
    switch (kind) {
    case ContainerKind::Zip:
        ReadZip(run, source, start, depth);
        return;
    case ContainerKind::Rar4:
        ReadRar4(run, source, start, depth);
        return;
    case ContainerKind::Rar5:
        ReadRar5(run, source, start, depth);
        return;
    default:
        NoteDamage(run, depth, start, archive_why::NoSignature);
        return;
    }
}

ContainerOutcome ReadArchive(ContainerKind kind, const ByteSource& source, uint64_t start, ItemSink sink,
                             void* context) {
    ArchiveRun run;
    run.sink = sink;
    run.context = context;
    run.budget = source.size <= UINT64_MAX - DecodedBytesAllowance ? source.size + DecodedBytesAllowance : UINT64_MAX;
    ReadLevel(&run, kind, source, start, 0);
    FreeRun(&run);
    return run.outcome;
}
