// Hand-built inputs for the engine unit tests: byte images written to
// unique temporary files, a minimal PE writer and a checksum forger.
// Header-only on purpose: the test binary is assembled from *_test.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <random>
#include <string>
#include <system_error>
#include <vector>

#include "engine/crc32.h"
#include "engine/file_io.h"

namespace testfiles {

using Bytes = std::vector<uint8_t>;

// ---------------------------------------------------------------- images

// Writes bytes at offset, growing the image with zeros when needed.
inline void PutBytes(Bytes& image, uint32_t offset, const Bytes& bytes) {
    const size_t end = static_cast<size_t>(offset) + bytes.size();
    if (image.size() < end) image.resize(end, 0);
    for (size_t i = 0; i < bytes.size(); ++i) image[offset + i] = bytes[i];
}

inline void PutLe16(Bytes& image, uint32_t offset, uint16_t value) {
    PutBytes(image, offset, {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8)});
}

inline void PutLe32(Bytes& image, uint32_t offset, uint32_t value) {
    PutBytes(image, offset,
             {static_cast<uint8_t>(value), static_cast<uint8_t>(value >> 8), static_cast<uint8_t>(value >> 16),
              static_cast<uint8_t>(value >> 24)});
}

inline Bytes Text(const char* text) {
    Bytes bytes;
    for (const char* p = text; *p != '\0'; ++p) bytes.push_back(static_cast<uint8_t>(*p));
    return bytes;
}

// A DOS image of size bytes: MZ, e_lfanew at 60, zeros elsewhere.
inline Bytes BuildMz(uint32_t size, uint32_t lfanew) {
    Bytes image(size, 0);
    if (size >= 2) {
        image[0] = 'M';
        image[1] = 'Z';
    }
    if (size >= 64) PutLe32(image, 60, lfanew);
    return image;
}

struct Section {
    uint32_t virtualAddress;
    uint32_t virtualSize;
    uint32_t rawSize;
    uint32_t rawPointer;
};

struct PeLayout {
    uint32_t lfanew = 0x80;
    uint16_t characteristics = 0x0102;  // executable image, 32-bit machine
    uint16_t sizeOfOptionalHeader = 224;
    uint32_t entryPoint = 0x1000;
    std::vector<Section> sections;
};

inline constexpr uint32_t PeHeadersSize(size_t sections) {
    return static_cast<uint32_t>(248 + 40 * sections);
}

// The bytes from the PE signature on: signature, file header, a 224-byte
// optional header and the section table right behind it. The section
// table always starts 248 bytes after the signature, whatever
// sizeOfOptionalHeader says, so that odd values can be tested on their own.
inline Bytes BuildPeHeaders(const PeLayout& layout) {
    Bytes headers(PeHeadersSize(layout.sections.size()), 0);
    PutBytes(headers, 0, {'P', 'E', 0, 0});
    PutLe16(headers, 4, 0x014C);
    PutLe16(headers, 6, static_cast<uint16_t>(layout.sections.size()));
    PutLe16(headers, 20, layout.sizeOfOptionalHeader);
    PutLe16(headers, 22, layout.characteristics);
    PutLe16(headers, 24, 0x010B);
    PutLe32(headers, 40, layout.entryPoint);
    for (size_t i = 0; i < layout.sections.size(); ++i) {
        const Section& s = layout.sections[i];
        const auto entry = static_cast<uint32_t>(248 + 40 * i);
        PutBytes(headers, entry, {'.', 's', 'e', 'c', static_cast<uint8_t>('0' + i % 10), 0, 0, 0});
        PutLe32(headers, entry + 8, s.virtualSize);
        PutLe32(headers, entry + 12, s.virtualAddress);
        PutLe32(headers, entry + 16, s.rawSize);
        PutLe32(headers, entry + 20, s.rawPointer);
    }
    return headers;
}

// A whole PE file: DOS header, headers at lfanew, raw data of every section
// (zeros) present, so the file ends at the last byte of headers or raw data.
inline Bytes BuildPe(const PeLayout& layout) {
    Bytes image = BuildMz(64, layout.lfanew);
    PutBytes(image, layout.lfanew, BuildPeHeaders(layout));
    for (const Section& s : layout.sections) {
        const size_t end = static_cast<size_t>(s.rawPointer) + s.rawSize;
        if (image.size() < end) image.resize(end, 0);
    }
    return image;
}

// ---------------------------------------------------------------- checksums

namespace detail {

// One step of the checksum register taken backwards: the top byte of the
// next register names the table entry, which gives back the shifted-out
// byte of the previous register.
inline uint32_t StepBack(uint32_t next, uint8_t dataByte) {
    for (uint32_t i = 0; i < 256; ++i) {
        if ((CrcTable[i] >> 24) == (next >> 24)) {
            return ((next ^ CrcTable[i]) << 8) | (i ^ dataByte);
        }
    }
    return 0;  // unreachable: the top bytes of the table are a permutation
}

}  // namespace detail

// Patches the four bytes at patchOffset (inside the region) so that
// Crc32Raw over data[regionOffset .. regionOffset + regionLength) is wanted.
inline void ForgeCrc(Bytes& data, size_t regionOffset, size_t regionLength, size_t patchOffset, uint32_t wanted) {
    // Register just before the patch, running forwards.
    uint32_t before = 0xFFFFFFFFu;
    for (size_t i = regionOffset; i < patchOffset; ++i) {
        before = (before >> 8) ^ CrcTable[(before ^ data[i]) & 0xFFu];
    }
    // Register just after the patch, running backwards from the end.
    uint32_t after = wanted;
    for (size_t i = regionOffset + regionLength; i > patchOffset + 4; --i) {
        after = detail::StepBack(after, data[i - 1]);
    }
    // Four steps over zero bytes from (before ^ patch) must reach after.
    for (int i = 0; i < 4; ++i) after = detail::StepBack(after, 0);
    const uint32_t patch = after ^ before;
    for (size_t i = 0; i < 4; ++i) data[patchOffset + i] = static_cast<uint8_t>(patch >> (8 * i));
}

inline uint32_t CrcOf(const Bytes& data, size_t offset, size_t length) {
    return Crc32Raw(data.data() + offset, static_cast<int32_t>(length));
}

// ---------------------------------------------------------------- files

// A file in the temporary folder holding the given bytes; removed when the
// object goes. Handles on it must be closed first (Windows refuses to
// delete an open file).
class TempFile {
public:
    explicit TempFile(const Bytes& bytes) {
        static std::mt19937 generator{std::random_device{}()};
        static unsigned counter = 0;
        const std::filesystem::path folder = std::filesystem::temp_directory_path();
        do {
            path_ = (folder / ("velmora-ut-" + std::to_string(generator()) + "-" + std::to_string(++counter) +
                               ".bin"))
                        .string();
        } while (std::filesystem::exists(path_));
        std::ofstream out(path_, std::ios::binary);
        out.write(reinterpret_cast<const char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
        written_ = static_cast<bool>(out);
    }
    ~TempFile() {
        std::error_code ignored;
        std::filesystem::remove(path_, ignored);
    }
    TempFile(const TempFile&) = delete;
    TempFile& operator=(const TempFile&) = delete;

    const std::string& Path() const { return path_; }
    bool Written() const { return written_; }

    Bytes ReadBack() const {
        std::ifstream in(path_, std::ios::binary);
        return Bytes(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
    }

private:
    std::string path_;
    bool written_ = false;
};

// A temporary file opened with FileOpen; closed before it is removed.
class OpenedFile {
public:
    explicit OpenedFile(const Bytes& bytes, OpenMode mode = OpenMode::Read) : file_(bytes) {
        if (file_.Written()) handle_ = FileOpen(file_.Path().c_str(), mode);
    }
    ~OpenedFile() { Close(); }
    OpenedFile(const OpenedFile&) = delete;
    OpenedFile& operator=(const OpenedFile&) = delete;

    bool Ok() const { return handle_ != InvalidFileHandle; }
    FileHandle Handle() const { return handle_; }
    const std::string& Path() const { return file_.Path(); }
    void Close() {
        if (handle_ != InvalidFileHandle) FileClose(handle_);
        handle_ = InvalidFileHandle;
    }
    Bytes ReadBack() const { return file_.ReadBack(); }

private:
    TempFile file_;
    FileHandle handle_ = InvalidFileHandle;
};

}  // namespace testfiles
