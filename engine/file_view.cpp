#include "engine/file_view.h"

#include <cstring>

#include "engine/crc32.h"

namespace {

constexpr uint16_t ImageFileDll = 0x2000;
constexpr uint16_t MagicMz = 0x5A4D;  // bytes M, Z
constexpr uint16_t MagicZm = 0x4D5A;  // bytes Z, M
constexpr uint32_t SignaturePe = 0x00004550;
constexpr uint32_t SignatureNe = 0x0000454E;
constexpr uint32_t SignatureLe = 0x0000454C;

// [position, position + count) inside [start, start + length)? No wrap: all
// values are below 2^32 and summed in 64 bits.
bool Holds(uint32_t start, uint32_t length, int64_t position, uint32_t count) {
    return position >= start && position + count <= static_cast<int64_t>(start) + length;
}

// Every read and every test of the size asks here first.
void Want(FileView* view, int64_t position, uint32_t count) {
    if (position < 0 || position > LargestFilePosition) return;  // no source has such bytes
    const uint64_t end = static_cast<uint64_t>(position) + count;
    if (end > view->reach) view->reach = end;
}

// Bytes from the source itself, for what the view does not hold.
uint32_t SourceRead(const FileView& view, int64_t position, uint8_t* buffer, uint32_t count) {
    if (view.memory != nullptr) {
        if (position >= view.size) return 0;
        const uint32_t available = view.size - static_cast<uint32_t>(position);
        const uint32_t n = count < available ? count : available;
        std::memcpy(buffer, view.memory + position, n);
        return n;
    }
    FileSeek(view.file, static_cast<int32_t>(position), SeekOrigin::Begin);
    return FileRead(view.file, buffer, count);
}

// The classification of the header reader, over the view's bytes: a file
// too short for a header, or whose header is cut short, is of the kind the
// bytes it does supply make it.
uint32_t Classify(FileView* view) {
    if (view->headLength < DosHeaderSize) return KindOther;
    const ByteView head{view->head, view->headLength};
    uint16_t magic = 0;
    ReadLe16(head, 0, &magic);
    view->dosHeader = ByteBlock{view->head, DosHeaderSize};
    if (magic == MagicZm) return KindDos;  // no new header is looked for behind ZM
    if (magic != MagicMz) {
        view->dosHeader = ByteBlock{};
        return KindOther;
    }

    // e_lfanew is a signed distance; a negative one reads nothing, so such a
    // file is DOS.
    int32_t lfanew = 0;
    DosLfanew(view->dosHeader, &lfanew);
    // The signature and the file header in one read; a short one still
    // tells the signature.
    uint8_t fixed[PeOptionalHeaderOffset] = {};
    const uint32_t fixedLength = ViewReadAt(view, lfanew, fixed, sizeof fixed);
    if (fixedLength < PeSignatureSize) return KindDos;
    uint32_t signature = 0;
    ReadLe32(ByteView{fixed, PeSignatureSize}, 0, &signature);
    if (signature == SignatureLe || signature == SignatureNe) {
        view->dosHeader = ByteBlock{};
        return signature == SignatureLe ? KindLe : KindNe;
    }
    if (signature != SignaturePe) return KindDos;

    if (fixedLength < sizeof fixed) return KindDos;
    const ByteView fixedHeaders{fixed, sizeof fixed};
    uint16_t sections = 0;
    uint16_t characteristics = 0;
    ReadLe16(fixedHeaders, PeNumberOfSectionsOffset, &sections);
    ReadLe16(fixedHeaders, PeCharacteristicsOffset, &characteristics);

    // At most 248 + 40 * 65535 bytes: the count is capped by its 16-bit
    // width before it is multiplied.
    const uint32_t size = PeFixedHeaderSize + PeSectionEntrySize * sections;
    const auto start = static_cast<uint32_t>(lfanew);
    Want(view, start, size);
    if (Holds(0, view->headLength, start, size)) {
        view->peHeaders = ByteBlock{view->head + start, size};
    } else if (view->sizeKnown && (size > view->size || start > view->size - size)) {
        return KindDos;  // headers past the end: nothing to allocate or read
    } else {
        // Headers beyond the head: a block of their own, read once.
        auto* block = static_cast<uint8_t*>(BlockAlloc(size));
        if (block == nullptr) return KindDos;
        if (ViewReadAt(view, start, block, size) < size) {
            BlockFree(block);
            return KindDos;
        }
        view->peHeaders = ByteBlock{block, size};
        view->ownsPeHeaders = true;
    }
    return (characteristics & ImageFileDll) ? KindPeDll : KindPeImage;
}

void ReadHead(FileView* view) {
    Want(view, 0, ViewHeadSize);
    uint32_t want = ViewHeadSize;
    if (view->sizeKnown && view->size < want) want = view->size;
    uint32_t got = 0;
    if (want == 0) {
        got = 0;
    } else if (view->memory != nullptr) {
        got = SourceRead(*view, 0, view->head, want);
    } else {
        // Where the size is not known, one transfer tells it for a file
        // shorter than the head without a second call to see the end. Bytes
        // past a head that came short are read from the file when asked; the
        // DOS header alone is completed here, since it decides the kind.
        FileSeek(view->file, 0, SeekOrigin::Begin);
        got = FileReadOnce(view->file, view->head, want);
        if (got > 0 && got < DosHeaderSize) got += FileRead(view->file, view->head + got, want - got);
    }
    view->headLength = got;
    view->kind = Classify(view);
}

}  // namespace

FileView::~FileView() {
    if (ownsPeHeaders) BlockFree(peHeaders.data);
}

void OpenFileView(FileView* view, FileHandle file) {
    view->file = file;
    view->sizeKnown = FileSizeAtOpen(file, &view->size);
    ReadHead(view);
}

void OpenMemoryView(FileView* view, const uint8_t* data, size_t size) {
    view->memory = data;
    // Positions are signed 32-bit: bytes beyond them are not addressed.
    view->size = size > LargestFilePosition ? LargestFilePosition : static_cast<uint32_t>(size);
    view->sizeKnown = true;
    ReadHead(view);
}

namespace {

uint32_t ViewCopyAt(FileView* view, int64_t position, uint8_t* bytes, uint32_t count) {
    Want(view, position, count);
    if (position < 0 || position > LargestFilePosition) return 0;
    if (view->sizeKnown) {
        // Nothing is read at or past the end of the file.
        if (position >= view->size) return 0;
        const uint32_t available = view->size - static_cast<uint32_t>(position);
        if (count > available) count = available;
    }
    if (Holds(0, view->headLength, position, count)) {
        std::memcpy(bytes, view->head + position, count);
        return count;
    }
    if (Holds(view->regionOffset, view->regionLength, position, count)) {
        std::memcpy(bytes, view->region + (position - view->regionOffset), count);
        return count;
    }
    return SourceRead(*view, position, bytes, count);
}

}  // namespace

uint32_t ViewReadAt(FileView* view, int64_t position, void* buffer, uint32_t count) {
    auto* bytes = static_cast<uint8_t*>(buffer);
    const uint32_t got = ViewCopyAt(view, position, bytes, count);
    // Clearing only what the read left unfilled gives the same bytes as
    // clearing first, without writing a 32 KB region twice per file.
    FillBytes(bytes + got, 0, count - got);
    return got;
}

bool ViewRegionChecksum(FileView* view, uint32_t offset, uint32_t length, uint32_t* checksum) {
    if (length == 0) {
        *checksum = 0;
        return true;
    }
    // Positions are signed 32-bit: a region that starts or ends beyond them
    // cannot be read whole.
    if (length > LargestFilePosition || offset > LargestFilePosition - length) return false;
    Want(view, offset, length);
    if (view->reachOnly) return false;
    for (const RegionSum& sum : view->sums) {
        if (sum.valid && sum.offset == offset && sum.length == length) {
            if (sum.whole) *checksum = sum.crc;
            return sum.whole;
        }
    }
    if (view->sizeKnown && (length > view->size || offset > view->size - length)) return false;

    uint32_t crc = 0;
    bool whole = true;
    if (Holds(0, view->headLength, offset, length)) {
        crc = Crc32Raw(view->head + offset, static_cast<int32_t>(length));
    } else if (Holds(view->regionOffset, view->regionLength, offset, length)) {
        crc = Crc32Raw(view->region + (offset - view->regionOffset), static_cast<int32_t>(length));
    } else if (length <= ViewRegionSize) {
        view->regionOffset = offset;
        view->regionLength = 0;
        const uint32_t got = ViewReadAt(view, offset, view->region, length);
        view->regionLength = got;
        whole = got == length;
        if (whole) crc = Crc32Raw(view->region, static_cast<int32_t>(length));
    } else {
        void* block = BlockAlloc(length);
        if (block == nullptr) return false;
        whole = ViewReadAt(view, offset, block, length) == length;
        if (whole) crc = Crc32Raw(block, static_cast<int32_t>(length));
        BlockFree(block);
    }
    RegionSum& slot = view->sums[view->nextSum];
    view->nextSum = (view->nextSum + 1) % 2;
    slot = RegionSum{offset, length, crc, true, whole};
    if (whole) *checksum = crc;
    return whole;
}

namespace {

bool CopyOut(const ByteBlock& from, ByteBlock* to) {
    to->data = static_cast<uint8_t*>(BlockAlloc(from.size));
    if (to->data == nullptr) return false;
    to->size = from.size;
    std::memcpy(to->data, from.data, from.size);
    return true;
}

}  // namespace

// The callers of this entry point own copies of the headers the view found.
uint32_t ClassifyExecutable(FileHandle file, ByteBlock* dosHeader, ByteBlock* peHeaders) {
    *dosHeader = ByteBlock{};
    *peHeaders = ByteBlock{};
    FileView view;
    OpenFileView(&view, file);
    const uint32_t kind = view.kind;
    if (view.dosHeader.data == nullptr) return kind;
    if (!CopyOut(view.dosHeader, dosHeader)) return KindUndetermined;
    if (view.peHeaders.data == nullptr) return kind;
    if (!CopyOut(view.peHeaders, peHeaders)) return KindDos;
    return kind;
}

bool ReadExecutableHeaders(uint32_t mask, FileHandle file, ByteBlock* dosHeader, ByteBlock* peHeaders) {
    const uint32_t kind = ClassifyExecutable(file, dosHeader, peHeaders);
    if (kind & mask) return true;
    ReleaseHeaders(dosHeader, peHeaders);
    return false;
}
