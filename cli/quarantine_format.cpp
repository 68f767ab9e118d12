#include "cli/quarantine_format.h"

#include <cstring>
#include <map>

#include "cli/row_text.h"
#include "engine/bytes.h"
#include "engine/sha256.h"

uint8_t copyChunk[CopyChunkSize];

void WriteEntryHeader(uint8_t header[EntryHeaderSize], uint32_t size) {
    std::memset(header, 0, EntryHeaderSize);
    std::memcpy(header, EntryMagic, sizeof EntryMagic);
    WriteLe32(header, EntryHeaderSize, EntrySizeOffset, size);
}

bool ReadEntryHeader(const uint8_t header[EntryHeaderSize], uint32_t* size) {
    const ByteView view{header, EntryHeaderSize};
    uint32_t high = 0;
    return std::memcmp(header, EntryMagic, sizeof EntryMagic) == 0 && ReadLe32(view, EntrySizeOffset, size) &&
           ReadLe32(view, EntrySizeOffset + 4, &high) && high == 0 && *size <= LargestFilePosition;
}

void HashFromStart(FileHandle file, char hex[65]) {
    Sha256 hash;
    Sha256Start(&hash);
    FileSeek(file, 0, SeekOrigin::Begin);
    for (uint32_t n; (n = FileRead(file, copyChunk, CopyChunkSize)) > 0;) Sha256Add(&hash, copyChunk, n);
    Sha256Hex(&hash, hex);
}

std::string ManifestHeaderLine() { return std::string(ManifestMagic) + "\t" + std::to_string(ManifestVersion) + "\n"; }

std::string SavedLine(uint32_t number, uint32_t size, const char sha[65], const SavedOwner& owner,
                      const std::string& path) {
    std::string line =
        "saved\t" + EntryId(number) + "\t" + CurrentTimeText() + "\t" + std::to_string(size) + "\t" + sha;
    if (owner.known) {
        char mode[16];
        std::snprintf(mode, sizeof mode, "%04o", static_cast<unsigned>(owner.mode & 07777));
        line += "\t" + std::to_string(owner.user) + "\t" + std::to_string(owner.group) + "\t" + mode + "\t";
    } else {
        line += "\t-\t-\t-\t";
    }
    AppendRowPath(&line, path.c_str());
    line.push_back('\n');
    return line;
}

std::string RestoredLine(const std::string& id) { return "restored\t" + id + "\t" + CurrentTimeText() + "\n"; }

namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Exactly eight digits of 0-9 and A-F, as EntryId writes them.
bool ReadId(const std::string& text, uint32_t* number) {
    if (text.size() != 8) return false;
    uint32_t value = 0;
    for (const char c : text) {
        const bool digit = IsDigit(c);
        if (!digit && !(c >= 'A' && c <= 'F')) return false;
        value = value * 16 + static_cast<uint32_t>(digit ? c - '0' : c - 'A' + 10);
    }
    if (value == 0 || value > HighestEntryNumber) return false;
    *number = value;
    return true;
}

// Digits as std::to_string writes them: no sign, no leading zero, at most
// highest.
bool ReadDecimal(const std::string& text, uint64_t highest, uint32_t* out) {
    if (text.empty() || text.size() > 10 || (text.size() > 1 && text[0] == '0')) return false;
    uint64_t value = 0;
    for (const char c : text) {
        if (!IsDigit(c)) return false;
        value = value * 10 + static_cast<uint64_t>(c - '0');
    }
    if (value > highest) return false;
    *out = static_cast<uint32_t>(value);
    return true;
}

bool IsDigest(const std::string& text) {
    if (text.size() != 64) return false;
    for (const char c : text) {
        if (!IsDigit(c) && !(c >= 'a' && c <= 'f')) return false;
    }
    return true;
}

// All three "-" (no owner where the file was saved), or a user and group
// (never (uid_t) -1, which a change of owner reads as "leave it") and four
// octal digits.
bool ReadOwner(const std::string& user, const std::string& group, const std::string& mode, SavedOwner* owner) {
    *owner = SavedOwner{};
    if (user == "-" && group == "-" && mode == "-") return true;
    if (!ReadDecimal(user, 0xFFFFFFFEu, &owner->user) || !ReadDecimal(group, 0xFFFFFFFEu, &owner->group)) return false;
    if (mode.size() != 4) return false;
    for (const char c : mode) {
        if (c < '0' || c > '7') return false;
        owner->mode = owner->mode * 8 + static_cast<uint32_t>(c - '0');
    }
    owner->known = true;
    return true;
}

bool IsTime(const std::string& text) { return !text.empty() && text.size() <= 64; }

bool IsOutcome(const std::string& action, const std::string& result, const std::string& left) {
    const bool knownAction = action == "repair" || action == "delete" || action == "change";
    const bool knownResult = result == "done" || result == "at-restart" || result == "failed";
    return knownAction && knownResult && (left == "-" || left == "?" || IsDigest(left));
}

std::vector<std::string> Fields(const char* line, size_t length) {
    std::vector<std::string> fields;
    size_t start = 0;
    for (size_t i = 0; i <= length; ++i) {
        if (i == length || line[i] == '\t') {
            fields.emplace_back(line + start, i - start);
            start = i + 1;
        }
    }
    return fields;
}

// The manifest's lines one by one, each taken or refused.
class ManifestReader {
public:
    explicit ManifestReader(ManifestContents* contents) : contents_(contents) {}

    // False when the line is none the program writes.
    bool Take(const std::vector<std::string>& fields) {
        const std::string& kind = fields[0];
        if (kind == "saved") return TakeSaved(fields);
        uint32_t number = 0;
        if (fields.size() < 2 || !ReadId(fields[1], &number)) return false;
        const auto found = index_.find(number);
        if (found == index_.end()) return false;  // no entry saved before it
        SavedEntry& saved = contents_->saved[found->second];
        if (kind == "done" && fields.size() == 6 && IsTime(fields[2]) && IsOutcome(fields[3], fields[4], fields[5]) &&
            saved.left.empty()) {
            saved.left = fields[5];
            return true;
        }
        if (kind == "restored" && fields.size() == 3 && IsTime(fields[2])) {
            saved.restored = true;
            return true;
        }
        return false;
    }

private:
    // saved ID TIME SIZE SHA-256 PATH (version 1), or
    // saved ID TIME SIZE SHA-256 USER GROUP MODE PATH.
    bool TakeSaved(const std::vector<std::string>& fields) {
        if (fields.size() != 6 && fields.size() != 9) return false;
        SavedEntry saved;
        if (!ReadId(fields[1], &saved.number) || index_.count(saved.number) != 0) return false;
        if (!IsTime(fields[2]) || !ReadDecimal(fields[3], LargestFilePosition, &saved.size) || !IsDigest(fields[4])) {
            return false;
        }
        if (fields.size() == 9 && !ReadOwner(fields[5], fields[6], fields[7], &saved.owner)) return false;
        if (!UnescapeRowPath(fields.back(), &saved.path) || !IsRecordedPathForm(saved.path)) return false;
        saved.id = fields[1];
        saved.sha = fields[4];
        index_[saved.number] = contents_->saved.size();
        if (saved.number > contents_->highestNumber) contents_->highestNumber = saved.number;
        contents_->saved.push_back(saved);
        return true;
    }

    ManifestContents* contents_;
    std::map<uint32_t, size_t> index_;
};

// "velmora-quarantine<TAB>N": false when it is not that line.
bool ReadHeader(const std::vector<std::string>& fields, uint32_t* version) {
    return fields.size() == 2 && fields[0] == ManifestMagic && ReadDecimal(fields[1], 0xFFFFFFFFu, version) &&
           *version > 0;
}

}  // namespace

bool IsWindowsSeparator(char c) { return c == '\\' || c == '/'; }

size_t WindowsRootLength(const std::string& path, size_t* namesFrom) {
    size_t at = 0;
    bool unc = false;
    if (path.compare(0, 4, "\\\\?\\") == 0) {
        at = 4;
        if (path.compare(at, 4, "UNC\\") == 0) {
            at += 4;
            unc = true;
        }
    } else if (path.size() > 2 && IsWindowsSeparator(path[0]) && IsWindowsSeparator(path[1])) {
        at = 2;
        unc = true;
    }
    if (!unc) {
        const char drive = path.size() > at + 2 ? path[at] : '\0';
        const bool letter = (drive >= 'A' && drive <= 'Z') || (drive >= 'a' && drive <= 'z');
        if (!letter || path[at + 1] != ':' || !IsWindowsSeparator(path[at + 2])) return 0;
        if (namesFrom != nullptr) *namesFrom = at + 3;
        return at + 3;
    }
    if (namesFrom != nullptr) *namesFrom = at;
    // \\server\share\: both names must be there.
    for (int part = 0; part < 2; ++part) {
        while (at < path.size() && !IsWindowsSeparator(path[at])) ++at;
        if (at == path.size()) return 0;
        ++at;
    }
    return at;
}

namespace {

// A name of a Windows path: not empty, not made only of dots and spaces
// (the system drops trailing ones, so "..." or ". ." would be read as "."
// or ".."), no colon (a stream), no control byte and none of the characters
// no name may hold.
bool IsWindowsName(const std::string& path, size_t from, size_t to) {
    if (from == to) return false;
    bool onlyDots = true;
    for (size_t i = from; i < to; ++i) {
        const auto c = static_cast<unsigned char>(path[i]);
        if (c < 0x20 || std::strchr(":<>\"|?*", c) != nullptr) return false;
        if (c != '.' && c != ' ') onlyDots = false;
    }
    return !onlyDots;
}

bool IsWindowsRecordedPath(const std::string& path) {
    size_t start = 0;
    const size_t root = WindowsRootLength(path, &start);
    if (root == 0 || root >= path.size()) return false;
    // Every name from a share's server on, or below a drive's root.
    for (;;) {
        size_t end = start;
        while (end < path.size() && !IsWindowsSeparator(path[end])) ++end;
        if (!IsWindowsName(path, start, end)) return false;
        if (end == path.size()) return true;
        start = end + 1;
    }
}

bool IsPosixRecordedPath(const std::string& path) {
    if (path.size() < 2 || path[0] != '/') return false;
    for (size_t start = 1;;) {
        size_t end = path.find('/', start);
        if (end == std::string::npos) end = path.size();
        const size_t length = end - start;
        if (length == 0 || (length == 1 && path[start] == '.') ||
            (length == 2 && path[start] == '.' && path[start + 1] == '.')) {
            return false;
        }
        if (end == path.size()) return true;
        start = end + 1;
    }
}

}  // namespace

bool IsRecordedPathForm(const std::string& path) {
    if (path.find('\0') != std::string::npos) return false;
    return PathSeparator == '/' ? IsPosixRecordedPath(path) : IsWindowsRecordedPath(path);
}

bool ParseManifest(const char* text, size_t length, ManifestContents* contents) {
    *contents = ManifestContents{};
    ManifestReader reader(contents);
    uint64_t lineNumber = 0;
    for (size_t at = 0; at < length;) {
        const void* newline = std::memchr(text + at, '\n', length - at);
        if (newline == nullptr) break;  // cut short: never committed
        const size_t end = static_cast<size_t>(static_cast<const char*>(newline) - text);
        ++lineNumber;
        const std::vector<std::string> fields = Fields(text + at, end - at);
        at = end + 1;
        if (lineNumber == 1 && fields[0] == ManifestMagic) {
            if (ReadHeader(fields, &contents->version)) {
                if (contents->version > ManifestVersion) return false;
                continue;
            }
        } else if (reader.Take(fields)) {
            continue;
        }
        if (contents->refusedLines.size() < ManifestContents::ShownRefusals) {
            contents->refusedLines.push_back(lineNumber);
        }
        ++contents->refusedCount;
    }
    return true;
}
