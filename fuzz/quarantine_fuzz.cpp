// A quarantine folder is written by the scan but may be written by anyone
// who can reach it, so what is read back from it is hostile. Any bytes go,
// from memory, through the manifest's reader, the entries' header reader and
// the reader of escaped paths:
// - the manifest takes only lines whose every field is what the program
//   writes (ids of eight digits, digests, sizes within the largest file,
//   absolute paths without "." or ".."), and each line it took comes back the
//   same when written again; a line made of pieces at and just past each
//   field's limits is taken exactly when every piece is valid;
// - a header is accepted only with the magic and a size below 2 GiB, and
//   always when it has both;
// - an escaped path never decodes to a NUL, and text with a bare control
//   byte is refused; any bytes escaped as rows escape them read back as
//   themselves; any path, escaped as a row writes it, stays on one line and
//   in one field, and comes back unchanged.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <set>
#include <string>
#include <vector>

#include "cli/quarantine_format.h"
#include "cli/row_text.h"

namespace {

[[noreturn]] void Fail(const char* what) {
    std::fprintf(stderr, "quarantine_fuzz: %s\n", what);
    std::abort();
}

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

bool HasControl(const std::string& text) {
    for (const char c : text) {
        if (IsControl(static_cast<unsigned char>(c))) return true;
    }
    return false;
}

bool IsLowerHex(const std::string& text, size_t length) {
    if (text.size() != length) return false;
    for (const char c : text) {
        if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f'))) return false;
    }
    return true;
}

// Absolute, and no component empty, "." or "..".
bool IsCleanPosixPath(const std::string& path) {
    if (path.size() < 2 || path[0] != '/') return false;
    for (size_t start = 1; start <= path.size();) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const std::string name = path.substr(start, end - start);
        if (name.empty() || name == "." || name == "..") return false;
        start = end + 1;
    }
    return true;
}

void CheckEntry(const SavedEntry& entry) {
    if (entry.number == 0 || entry.number > HighestEntryNumber) Fail("an entry number out of range was taken");
    if (entry.id != EntryId(entry.number)) Fail("an id that is not the number's eight digits was taken");
    if (!IsLowerHex(entry.sha, 64)) Fail("a digest that is not 64 hexadecimal digits was taken");
    if (entry.size > LargestFilePosition) Fail("a size beyond the largest file was taken");
    if (entry.path.find('\0') != std::string::npos) Fail("a path holding a NUL was taken");
    if (!IsRecordedPathForm(entry.path)) Fail("a path not of the recorded form was taken");
    if (PathSeparator == '/' && !IsCleanPosixPath(entry.path)) Fail("a relative path or one with . or .. was taken");
    if (entry.owner.known &&
        (entry.owner.mode > 07777 || entry.owner.user == 0xFFFFFFFFu || entry.owner.group == 0xFFFFFFFFu)) {
        Fail("an owner the program never writes was taken");
    }
    if (!entry.left.empty() && entry.left != "-" && entry.left != "?" && !IsLowerHex(entry.left, 64)) {
        Fail("what a done line says was left is no digest");
    }

    // Written again as the save writes it, the line is read back the same.
    const std::string text =
        ManifestHeaderLine() + SavedLine(entry.number, entry.size, entry.sha.c_str(), entry.owner, entry.path);
    ManifestContents again;
    if (!ParseManifest(text.data(), text.size(), &again)) Fail("a manifest of this version is refused");
    if (again.saved.size() != 1 || again.refusedCount != 0) Fail("a saved line as the program writes it is refused");
    const SavedEntry& back = again.saved[0];
    if (back.number != entry.number || back.id != entry.id || back.path != entry.path || back.size != entry.size ||
        back.sha != entry.sha || back.owner.known != entry.owner.known ||
        (entry.owner.known && (back.owner.user != entry.owner.user || back.owner.group != entry.owner.group ||
                               back.owner.mode != entry.owner.mode))) {
        Fail("a saved line does not come back the same");
    }
}

void CheckManifest(const uint8_t* data, size_t size) {
    const auto* text = reinterpret_cast<const char*>(data);
    size_t lines = 0;
    for (size_t i = 0; i < size; ++i) lines += data[i] == '\n' ? 1 : 0;
    ManifestContents contents;
    if (!ParseManifest(text, size, &contents)) {
        // Only a header of a later version stops the reading.
        const std::string first(text, size);
        if (first.compare(0, std::strlen(ManifestMagic) + 1, std::string(ManifestMagic) + "\t") != 0) {
            Fail("a manifest without a header line was refused whole");
        }
        return;
    }
    if (contents.saved.size() + contents.refusedCount > lines) Fail("more lines read than the text holds");
    if (contents.refusedLines.size() > ManifestContents::ShownRefusals ||
        contents.refusedLines.size() > contents.refusedCount) {
        Fail("refused lines miscounted");
    }
    uint64_t previous = 0;
    for (const uint64_t line : contents.refusedLines) {
        if (line <= previous || line > lines) Fail("a refused line's number is out of order or range");
        previous = line;
    }
    std::set<uint32_t> numbers;
    uint32_t highest = 0;
    for (const SavedEntry& entry : contents.saved) {
        CheckEntry(entry);
        if (!numbers.insert(entry.number).second) Fail("one entry number was taken twice");
        if (entry.number > highest) highest = entry.number;
    }
    if (contents.highestNumber != highest) Fail("the highest number is not that of the entries read");
}

void CheckHeader(const uint8_t header[EntryHeaderSize]) {
    uint32_t size = 0xFFFFFFFFu;
    const bool accepted = ReadEntryHeader(header, &size);
    const uint32_t low = static_cast<uint32_t>(header[EntrySizeOffset]) |
                         static_cast<uint32_t>(header[EntrySizeOffset + 1]) << 8 |
                         static_cast<uint32_t>(header[EntrySizeOffset + 2]) << 16 |
                         static_cast<uint32_t>(header[EntrySizeOffset + 3]) << 24;
    bool highZero = true;
    for (uint32_t i = EntrySizeOffset + 4; i < EntrySizeOffset + 8; ++i) highZero = highZero && header[i] == 0;
    const bool wellFormed = std::memcmp(header, EntryMagic, sizeof EntryMagic) == 0 && highZero && low < 0x80000000u;
    if (accepted != wellFormed) {
        Fail(accepted ? "a header without the magic or with a size of 2 GiB or more was accepted"
                      : "a header with the magic and a size below 2 GiB was refused");
    }
    if (accepted && size != low) Fail("a header's size is not the one it holds");
    if (accepted) {
        uint8_t written[EntryHeaderSize];
        WriteEntryHeader(written, size);
        uint32_t back = 0;
        if (!ReadEntryHeader(written, &back) || back != size) Fail("a written header does not come back");
    }
}

void CheckHeaders(const uint8_t* data, size_t size) {
    uint8_t header[EntryHeaderSize] = {};
    std::memcpy(header, data, size < EntryHeaderSize ? size : EntryHeaderSize);
    CheckHeader(header);
    // Behind the magic, so that the size fields are reached at once.
    std::memcpy(header, EntryMagic, sizeof EntryMagic);
    std::memset(header + sizeof EntryMagic, 0, EntryHeaderSize - sizeof EntryMagic);
    const size_t rest = EntryHeaderSize - sizeof EntryMagic;
    std::memcpy(header + sizeof EntryMagic, data, size < rest ? size : rest);
    CheckHeader(header);
}

void CheckRowPaths(const uint8_t* data, size_t size) {
    const std::string text(reinterpret_cast<const char*>(data), size);
    std::string path;
    if (UnescapeRowPath(text, &path)) {
        if (path.find('\0') != std::string::npos) Fail("an unescaped path holds a NUL");
        if (HasControl(text)) Fail("text with a bare control byte was taken");
        if (text.empty() || text[0] != '\\') {
            if (path != text) Fail("a path that is not escaped was changed");
        } else {
            // Escaped again, it reads back as the same path.
            std::string row;
            AppendRowPath(&row, path.c_str());
            std::string back;
            if (!UnescapeRowPath(row, &back) || back != path) Fail("an unescaped path does not survive its escaping");
        }
    }
    // Any path (a C string: up to the first NUL), escaped as a row writes it,
    // holds no control byte, so it keeps to its row and field, and reads back
    // as itself.
    const std::string given(text.c_str());
    std::string row;
    AppendRowPath(&row, given.c_str());
    if (HasControl(row)) Fail("an escaped path holds a control byte");
    const bool marked = !row.empty() && row[0] == '\\';
    if (PathNeedsEscaping(given.c_str()) != marked) Fail("the mark of an escaped row is wrong");
    std::string back;
    if (!UnescapeRowPath(row, &back) || back != given) Fail("a path does not come back from its escaping");
    std::string shown;
    AppendShownText(&shown, given.c_str());
    if (HasControl(shown)) Fail("shown text holds a control byte");
}

// Any bytes, NUL included, escaped as rows escape them (with the hexadecimal
// digits in either case, which the reader takes both): they read back as
// exactly themselves, or are refused when they hold a NUL, which would cut
// the path short wherever it is used.
void CheckEscapedBytes(const uint8_t* data, size_t size) {
    static const char Upper[] = "0123456789ABCDEF";
    static const char Lower[] = "0123456789abcdef";
    std::string text = "\\";
    for (size_t i = 0; i < size; ++i) {
        const uint8_t byte = data[i];
        const char* hex = i % 2 == 0 ? Upper : Lower;
        if (byte == '\\') {
            text += "\\\\";
        } else if (byte == '\t' && i % 3 == 0) {
            text += "\\t";
        } else if (byte == '\n' && i % 3 == 0) {
            text += "\\n";
        } else if (byte == '\r' && i % 3 == 0) {
            text += "\\r";
        } else if (IsControl(byte) || i % 5 == 0) {
            const char escape[4] = {'\\', 'x', hex[byte >> 4], hex[byte & 0xF]};
            text.append(escape, sizeof escape);
        } else {
            text.push_back(static_cast<char>(byte));
        }
    }
    std::string path;
    const bool taken = UnescapeRowPath(text, &path);
    const bool nul = std::memchr(data, 0, size) != nullptr;
    if (taken == nul) Fail(nul ? "an escaped NUL was taken" : "escaped bytes without a NUL were refused");
    if (taken && (path.size() != size || std::memcmp(path.data(), data, size) != 0)) {
        Fail("escaped bytes do not read back as themselves");
    }
}

// A "saved" line whose id, size, digest and path are chosen by the input
// from pieces at and past each limit, so that whether it must be taken is
// known: only an id of eight digits 0-9 and A-F between 1 and the highest
// number, a size within the largest file, a digest of 64 digits 0-9 and a-f,
// and an absolute path none of whose names is empty, "." or "..".
void CheckChosenLine(const uint8_t* data, size_t size) {
    // Mostly what is valid, so that lines that must be taken come often.
    static const char IdCharacters[] = "0123456789ABCDEFaf-G";
    static const size_t IdLengths[] = {8, 8, 8, 7, 9, 0};
    static const char* const Sizes[] = {"0", "1", "2147483647", "2147483648", "4294967296", "01", "-1", "", "1 "};
    static const char* const Names[] = {"a", ".", "..", "", "...", ".a", "a.", "..a", "a..", "x y", "\t", "\\",
                                        "\xC3\xA9"};
    if (size < 3) return;
    const size_t idLength = IdLengths[data[0] % (sizeof IdLengths / sizeof IdLengths[0])];
    const char* sizeText = Sizes[data[1] % (sizeof Sizes / sizeof Sizes[0])];
    // A digest of 64 digits 0-9 and a-f, or one just past that.
    const size_t digestChoice = data[2] % 6;
    std::string digest(digestChoice == 2 ? 63 : digestChoice == 3 ? 65 : 64, digestChoice == 1 ? '0' : 'f');
    if (digestChoice >= 4) digest.back() = digestChoice == 4 ? 'g' : 'A';
    const bool digestValid = digestChoice <= 1;
    size_t at = 3;
    std::string id;
    uint64_t number = 0;
    bool idValid = idLength == 8;
    for (; at < size && id.size() < idLength; ++at) {
        const char c = IdCharacters[data[at] % (sizeof IdCharacters - 1)];
        id.push_back(c);
        const bool digit = c >= '0' && c <= '9';
        idValid = idValid && (digit || (c >= 'A' && c <= 'F'));
        number = number * 16 + static_cast<uint64_t>(digit ? c - '0' : (c & 0xF) + 9);
    }
    idValid = idValid && id.size() == 8 && number >= 1 && number <= HighestEntryNumber;
    std::string path;
    bool pathValid = at < size;
    for (size_t names = 0; at < size && names < 4; ++at, ++names) {
        const std::string name = Names[data[at] % (sizeof Names / sizeof Names[0])];
        pathValid = pathValid && !name.empty() && name != "." && name != "..";
        path += "/" + name;
    }
    const bool sizeValid =
        std::strcmp(sizeText, "0") == 0 || std::strcmp(sizeText, "1") == 0 || std::strcmp(sizeText, "2147483647") == 0;
    std::string text = ManifestHeaderLine() + "saved\t" + id + "\tT\t" + sizeText + "\t" + digest + "\t0\t0\t0644\t";
    AppendRowPath(&text, path.c_str());
    text.push_back('\n');
    ManifestContents contents;
    if (!ParseManifest(text.data(), text.size(), &contents)) Fail("a manifest of this version is refused");
    const bool taken = contents.saved.size() == 1;
    if (taken != (idValid && sizeValid && digestValid && pathValid)) {
        Fail(taken ? "a saved line with a bad id, size, digest or path was taken"
                   : "a well-formed saved line was refused");
    }
    if (taken) CheckEntry(contents.saved[0]);
}

// The input's lines made into "saved" lines whose other fields are well
// formed, so that each field is reached without the fuzzer having to find
// all the others first (a digest of 64 digits among them): a line's fields,
// split at its tabs, take the places of the last fields of a whole line, and
// again those from the id on; an empty field keeps the whole line's. So a
// line of one field is tried as a path and as an id. A "done" or "restored"
// line is kept as it is, and speaks of the entries before it.
std::string SavedLinesFrom(const uint8_t* data, size_t size) {
    constexpr size_t Count = 9;
    std::string text = ManifestHeaderLine();
    uint32_t number = 0;
    for (size_t at = 0; at < size;) {
        const void* newline = std::memchr(data + at, '\n', size - at);
        const size_t end = newline == nullptr ? size : static_cast<size_t>(static_cast<const uint8_t*>(newline) - data);
        const std::string line(reinterpret_cast<const char*>(data) + at, end - at);
        at = end + 1;
        if (line.compare(0, 5, "done\t") == 0 || line.compare(0, 9, "restored\t") == 0) {
            text += line + "\n";
            continue;
        }
        std::vector<std::string> given;
        for (size_t from = 0;;) {
            const size_t tab = line.find('\t', from);
            given.push_back(line.substr(from, tab == std::string::npos ? std::string::npos : tab - from));
            if (tab == std::string::npos) break;
            from = tab + 1;
        }
        if (given.size() >= Count) {
            text += line + "\n";
            continue;
        }
        for (const size_t first : {Count - given.size(), size_t{1}}) {
            std::string fields[Count] = {"saved", EntryId(++number), "T", "1", std::string(64, 'a'),
                                         "0", "0", "0644", "/p"};
            for (size_t i = 0; i < given.size() && first + i < Count; ++i) {
                if (!given[i].empty()) fields[first + i] = given[i];
            }
            for (size_t i = 0; i < Count; ++i) text += fields[i] + (i + 1 < Count ? "\t" : "\n");
        }
    }
    return text;
}

}  // namespace

// The shared seeds are whole programs, far longer than a manifest needs to
// be: mutations spread over them would seldom land in the few bytes that
// matter. Inputs are kept short (libFuzzer reads its flags after this call;
// a -max_len given on the command line still comes later and wins).
extern "C" int LLVMFuzzerInitialize(int* argc, char*** argv) {
    static std::vector<char*> arguments;
    static char maxLength[] = "-max_len=512";
    arguments.assign(*argv, *argv + *argc);
    arguments.insert(arguments.begin() + 1, maxLength);
    arguments.push_back(nullptr);
    *argc += 1;
    *argv = arguments.data();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    CheckManifest(data, size);
    const std::string saved = SavedLinesFrom(data, size);
    CheckManifest(reinterpret_cast<const uint8_t*>(saved.data()), saved.size());
    CheckChosenLine(data, size);
    CheckHeaders(data, size);
    CheckRowPaths(data, size);
    CheckEscapedBytes(data, size);
    return 0;
}
