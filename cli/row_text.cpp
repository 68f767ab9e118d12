#include "cli/row_text.h"

void AppendEscaped(std::string* out, const char* text) {
    static const char Hex[] = "0123456789ABCDEF";
    for (const char* p = text; *p != '\0'; ++p) {
        const auto byte = static_cast<unsigned char>(*p);
        switch (byte) {
            case '\\': out->append("\\\\"); break;
            case '\t': out->append("\\t"); break;
            case '\n': out->append("\\n"); break;
            case '\r': out->append("\\r"); break;
            default:
                if (byte < 0x20 || byte == 0x7F) {
                    const char escape[4] = {'\\', 'x', Hex[byte >> 4], Hex[byte & 0xF]};
                    out->append(escape, sizeof escape);
                } else {
                    out->push_back(*p);
                }
        }
    }
}
