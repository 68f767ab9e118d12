// A name that a folder listing gave is data. Before it is joined into a path
// and acted on, it must be one name of that folder and nothing else: a
// separator, a drive's colon or a "." or ".." would make the path lead
// elsewhere, a wildcard or a control character would make it mean another
// file or none. Such names come from damaged or hostile file systems, and
// on the 95/98/Me family from a name its code page cannot spell ("?").
//
// A template over the unit type: the Windows walk checks wide names on the
// NT family and code-page names on the 95/98/Me family with the same rule.
#pragma once

#include <cstddef>
#include <cstdint>
#include <type_traits>

// isTrailByteNext(unit) tells whether the unit after this one belongs to
// it (the lead byte of a double-byte code page), so that a trail byte equal
// to a separator's is not taken for one: "表" is 0x95 0x5C in code page 932.
template <typename Unit, typename LeadTest>
bool IsJoinableName(const Unit* name, size_t length, LeadTest isTrailByteNext) {
    if (length == 0) return false;
    if (name[0] == '.' && (length == 1 || (length == 2 && name[1] == '.'))) return false;
    for (size_t i = 0; i < length; ++i) {
        const auto unit = static_cast<uint32_t>(static_cast<std::make_unsigned_t<Unit>>(name[i]));
        if (unit < 0x20) return false;
        switch (unit) {
            case '\\': case '/': case ':': case '*': case '?': case '"': case '<': case '>': case '|':
                return false;
            default:
                break;
        }
        if (isTrailByteNext(unit) && i + 1 < length) ++i;
    }
    return true;
}

template <typename Unit>
bool IsJoinableName(const Unit* name, size_t length) {
    return IsJoinableName(name, length, [](uint32_t) { return false; });
}
