#include "platform/text.h"
#include "resident/resident_sweep.h"

namespace {

// The threats name their files, services and startup values this way; the
// file infector's prefix is among them although the boxes only name Klez.
const char* const ThreatPrefixes[] = {"wink", "krn132", "wqk"};

}  // namespace

bool HasThreatPrefix(const char* name) {
    for (const char* prefix : ThreatPrefixes) {
        if (StartsWithIgnoringCase(name, prefix)) return true;
    }
    return false;
}
