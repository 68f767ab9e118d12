// Harmless test samples for the detection and repair engine, built from
// scratch and from a seed: the same seed always gives the same bytes.
//
// Nothing here runs or contains real virus code. A "worm copy" is a PE image
// of pseudo-random bytes whose checksummed region has been forged to one of
// the worm signatures; an "infected host" is a clean pseudo-random PE image
// into whose zero-filled cavities a fake virus body with the right marks and
// forged checksums has been written. Repairing such a host must give back the
// clean host byte for byte, which is why every infection stays inside
// cavities and keeps a record of where its block chain starts.
//
// The library stands on its own (its own checksum, its own PE writer), so
// tests can cross-check the engine against it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace synth {

using Bytes = std::vector<uint8_t>;

// ------------------------------------------------------------ checksum

// Reflected CRC-32 (table of 0xEDB88320), register starting at 0xFFFFFFFF,
// no final inversion: "abc" gives 0xCADBBE3D.
uint32_t Crc32Raw(const uint8_t* data, size_t length);
uint32_t Crc32Raw(const Bytes& data, size_t offset, size_t length);

// Patches the four bytes at patchOffset so that Crc32Raw over
// data[regionOffset, regionOffset + regionLength) equals target. The patch
// must lie inside the region and the region inside data; false (data
// untouched) otherwise. Verifies its own result.
bool ForgeCrc(Bytes& data, size_t regionOffset, size_t regionLength, size_t patchOffset, uint32_t target);

// ------------------------------------------------------------ randomness

// Small portable generator (splitmix64): identical streams on every
// platform and standard library, unlike std::uniform_*_distribution.
class Rng {
public:
    explicit Rng(uint64_t seed) : state_(seed) {}
    uint64_t Next64();
    uint32_t Next32() { return static_cast<uint32_t>(Next64() >> 32); }
    uint8_t Byte() { return static_cast<uint8_t>(Next64() >> 56); }
    // Uniform enough in [0, bound); bound 0 gives 0.
    uint32_t Below(uint32_t bound);
    // [low, high], both inclusive; low <= high.
    uint32_t Between(uint32_t low, uint32_t high) { return low + Below(high - low + 1); }
    void Fill(uint8_t* data, size_t length);

private:
    uint64_t state_;
};

// A seed for a sub-task, derived from a parent seed and a salt.
uint32_t SubSeed(uint32_t seed, uint32_t salt);

// ------------------------------------------------------------ little-endian fields

uint16_t GetLe16(const Bytes& data, size_t offset);
uint32_t GetLe32(const Bytes& data, size_t offset);
void PutLe16(Bytes& data, size_t offset, uint16_t value);
void PutLe32(Bytes& data, size_t offset, uint32_t value);

// ------------------------------------------------------------ PE images

constexpr uint32_t DefaultLfanew = 0x80;
constexpr uint32_t PeEntryPointField = 40;  // from e_lfanew
constexpr uint16_t ImageFileDll = 0x2000;

struct PeSection {
    std::string name;  // at most 8 characters are stored
    Bytes data;        // raw bytes; the rest of SizeOfRawData is zeros
    // Zero means "choose": VirtualAddress = next SectionAlignment boundary
    // after the previous section, VirtualSize = data.size(), SizeOfRawData =
    // data.size() rounded up to FileAlignment, PointerToRawData = next free
    // FileAlignment boundary.
    uint32_t virtualAddress = 0;
    uint32_t virtualSize = 0;
    uint32_t sizeOfRawData = 0;
    uint32_t pointerToRawData = 0;
    uint32_t characteristics = 0x60000020;  // code, execute, read
};

struct PeSpec {
    std::vector<PeSection> sections;
    uint32_t entryPoint = 0;  // AddressOfEntryPoint (an RVA)
    bool dll = false;         // sets IMAGE_FILE_DLL in Characteristics
    uint32_t lfanew = DefaultLfanew;
    // The section table follows the optional header at this size, as a
    // loader finds it; the 224 bytes of a 32-bit optional header are always
    // written (a smaller value lets the table overlap their end).
    uint16_t sizeOfOptionalHeader = 224;
    uint32_t fileAlignment = 0x200;
    uint32_t sectionAlignment = 0x1000;
    uint32_t imageBase = 0x400000;
};

// The same layout with every "choose" field filled in, as BuildPe lays it out.
PeSpec ResolvePe(const PeSpec& spec);

// DOS header ("MZ", e_lfanew), PE signature, file header (machine i386),
// 32-bit optional header (magic 0x10B), section table and every section's raw
// data. The file ends at the end of the last raw data (or of the headers).
Bytes BuildPe(const PeSpec& spec);

// Reads of a PE image built here (or any well-formed one); they assume the
// headers are present and are meant for images under construction.
uint32_t PeLfanew(const Bytes& image);
uint32_t PeEntryPoint(const Bytes& image);
void SetPeEntryPoint(Bytes& image, uint32_t rva);
// File offset of an RVA, with the engine's rules: the section is bounded by
// VirtualSize, the first section that holds the RVA wins, and an RVA past
// the section's raw data has no file offset. False when there is none.
bool MapRva(const Bytes& image, uint32_t rva, uint32_t* fileOffset);
// The same image with by bytes of zeros between its headers and its first
// raw data, every section's raw data moved back by as much (by: a multiple
// of the file alignment): its code then lies that far into the file.
Bytes PushSectionsBack(const Bytes& image, uint32_t by);

// ------------------------------------------------------------ other files

enum class FileKind {
    Random,     // pseudo-random bytes (not starting with MZ or ZM)
    Text,       // printable ASCII lines
    ZmDos,      // starts with "ZM": a DOS program, no new header looked for
    MzDos,      // "MZ" with e_lfanew pointing beyond the end of the file
    Ne,         // "NE\0\0" at e_lfanew
    NeBadTail,  // "NE" followed by two non-zero bytes (still DOS)
    Le,         // "LE\0\0" at e_lfanew
};

// A file of the given kind and size (sizes below 64 make every header
// kind a plain short file). Deterministic in seed.
Bytes MakeFile(FileKind kind, uint32_t size, uint32_t seed);

// ------------------------------------------------------------ worm copies

constexpr int WormRowCount = 7;
constexpr uint32_t WormRegionOffset = 4096;
constexpr uint32_t WormRegionLength = 32768;
constexpr uint32_t WormMinimumSize = WormRegionOffset + WormRegionLength;  // 36864

// Row 0..6 = worm variants A, B, C, D, E, G, H.
uint32_t WormCrc(int row);
std::string WormThreat(int row);  // "Win32.Klez.A@mm" ...
char WormLetter(int row);         // 'A' ...

// Forges the four bytes at patchOffset (inside the worm region) so that
// the region carries row's checksum. False when data is shorter than
// WormMinimumSize or the patch is not inside the region.
bool PlantWormRegion(Bytes& data, int row, size_t patchOffset);

struct WormOptions {
    uint32_t fileSize = 0;  // 0: drawn from the seed, >= WormMinimumSize
    bool dll = false;       // a DLL is never matched
};

// ------------------------------------------------------------ infected hosts

// One zero-filled run of a section's raw data that no infection has used
// yet. Every cavity is followed by at least 1024 bytes of the same
// section's raw data, so a 1024-byte read from inside it stays in the section.
struct Cavity {
    uint32_t rva;
    uint32_t offset;  // file offset
    uint32_t length;
};

// A PE image under construction together with its unused cavities.
struct Host {
    Bytes bytes;
    std::vector<Cavity> cavities;
};

struct HostOptions {
    bool dll = false;
    uint32_t minFileSize = 0;  // pads with a random section up to this size
};

// A clean pseudo-random PE host: three or four sections, several cavities
// large enough for two infections of any kind.
Host MakeCleanHost(uint32_t seed, const HostOptions& options = {});

// One block of a virus chain: its data starts at rva / offset and holds
// length bytes; the 8-byte header lies just before.
struct ChainBlock {
    uint32_t rva;
    uint32_t offset;
    uint32_t length;
};

// Infects host in place with Elkern.A or .B ('A' or 'B'): a block chain
// starting at the new entry point (CALL to the body in the second block),
// the original entry point saved in the encoded body. rotation goes to the
// body's rotation byte as given (only its low 3 bits matter). Returns the
// RVA of the chain's first block (= the new entry point), 0 when the host
// has no room.
uint32_t InfectElkernAB(Host& host, char variant, uint8_t rotation, Rng& rng);

// How the 120-byte encrypted stretch of an Elkern.C body is made.
enum class CStretch {
    Valid,     // decrypts to the known checksum
    WrongCrc,  // forged to a checksum one bit away from the known one
};

// Infects host in place with Elkern.C. With jump, the five bytes at the
// current entry point become a JMP to the body and AddressOfEntryPoint stays;
// without, AddressOfEntryPoint moves to the body. The body saves the entry
// point and the five bytes found there. Returns the body's RVA (the chain
// start), 0 when the host has no room or its entry point has no file bytes.
uint32_t InfectElkernC(Host& host, bool jump, CStretch stretch, Rng& rng);

// ------------------------------------------------------------ samples

// One infection a repair removes: the expected threat and the RVA of the
// first block of its chain (the one the repair wipes from).
struct Layer {
    std::string threat;
    uint32_t chainStart = 0;
};

struct Sample {
    std::string name;  // plain file-name stem, safe on Windows and Linux
    Bytes bytes;
    int verdict = 0;     // 0 clean, 1 infected, 5 warning
    std::string threat;  // expected threat name; empty when none
    // The host before infection, kept whenever the file differs from it
    // only in bytes an infection may touch (AddressOfEntryPoint, cavities,
    // a JMP over the old entry point): repairing every layer must give it
    // back byte for byte. Empty for worm copies and files built otherwise.
    Bytes clean;
    // What successive repairs remove, outermost first. Empty when the file
    // is not repaired (clean, warning, worm copy).
    std::vector<Layer> layers;
};

// Worm copy of row 0..6 (verdict 1, no clean host, to be deleted).
Sample MakeWormCopy(int row, uint32_t seed, const WormOptions& options = {});
// Elkern.A or .B infected host; variant 'A' or 'B'.
Sample MakeElkernAB(char variant, uint8_t rotation, uint32_t seed, const HostOptions& options = {});
// Elkern.C infected host, with or without the JMP at the entry point.
// CStretch::WrongCrc gives the warning sample (verdict 5, no layers).
Sample MakeElkernC(bool jump, uint32_t seed, CStretch stretch = CStretch::Valid, const HostOptions& options = {});
// A clean host as a sample (verdict 0).
Sample MakeCleanSample(uint32_t seed);

// Every kind of sample: worm copies of each row, Elkern A/B/C hosts,
// warning samples, double infections, non-PE files and near misses. Names
// are unique within one corpus.
std::vector<Sample> BuildCorpus(uint32_t seed);

// Writes bytes to path (binary, truncating). False on any failure.
bool WriteBytes(const std::string& path, const Bytes& bytes);

}  // namespace synth
