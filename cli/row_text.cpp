#include "cli/row_text.h"

namespace {

#ifdef _WIN32
constexpr bool BackslashNeedsEscaping = false;
#else
constexpr bool BackslashNeedsEscaping = true;
#endif

bool IsControl(unsigned char byte) { return byte < 0x20 || byte == 0x7F; }

int HexValue(char digit) {
    if (digit >= '0' && digit <= '9') return digit - '0';
    if (digit >= 'A' && digit <= 'F') return digit - 'A' + 10;
    if (digit >= 'a' && digit <= 'f') return digit - 'a' + 10;
    return -1;
}

void AppendEscaped(std::string* out, const char* text, bool escapeBackslash) {
    static const char Hex[] = "0123456789ABCDEF";
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        switch (byte) {
            case '\\':
                if (escapeBackslash) {
                    out->append("\\\\");
                } else {
                    out->push_back('\\');
                }
                break;
            case '\t': out->append("\\t"); break;
            case '\n': out->append("\\n"); break;
            case '\r': out->append("\\r"); break;
            default:
                if (IsControl(byte)) {
                    const char escape[4] = {'\\', 'x', Hex[byte >> 4], Hex[byte & 0xF]};
                    out->append(escape, sizeof escape);
                } else {
                    out->push_back(*p);
                }
        }
    }
}

}  // namespace

bool PathNeedsEscaping(const char* path) {
    // A row that begins with a backslash is read as escaped, so a path that
    // begins with one (a share's \\server\share, a folder from the drive's
    // root) is escaped on Windows as well.
    if (*path == '\\') return true;
    for (const char* p = path; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        if (IsControl(byte) || (BackslashNeedsEscaping && byte == '\\')) return true;
    }
    return false;
}

void AppendRowPath(std::string* out, const char* path) {
    if (!PathNeedsEscaping(path)) {
        out->append(path);
        return;
    }
    // Once escaped, every backslash is escaped, on Windows too, so that the
    // reader has one way of undoing the escapes.
    out->push_back('\\');
    AppendEscaped(out, path, true);
}

void AppendShownText(std::string* out, const char* text) { AppendEscaped(out, text, false); }

bool UnescapeRowPath(const std::string& text, std::string* path) {
    path->clear();
    const bool escaped = !text.empty() && text[0] == '\\';
    if (!escaped) {
        for (const char c : text) {
            if (IsControl(static_cast<unsigned char>(c))) return false;
        }
        *path = text;
        return true;
    }
    for (size_t i = 1; i < text.size(); ++i) {
        const auto byte = static_cast<unsigned char>(text[i]);
        if (IsControl(byte)) return false;
        if (byte != '\\') {
            path->push_back(text[i]);
            continue;
        }
        if (++i == text.size()) return false;
        switch (text[i]) {
            case '\\': path->push_back('\\'); break;
            case 't': path->push_back('\t'); break;
            case 'n': path->push_back('\n'); break;
            case 'r': path->push_back('\r'); break;
            case 'x': {
                if (i + 2 >= text.size()) return false;
                const int high = HexValue(text[i + 1]);
                const int low = HexValue(text[i + 2]);
                // A NUL would cut the path short wherever it is used.
                if (high < 0 || low < 0 || (high == 0 && low == 0)) return false;
                path->push_back(static_cast<char>(high * 16 + low));
                i += 2;
                break;
            }
            default: return false;
        }
    }
    return true;
}
