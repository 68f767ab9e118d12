// Detection over arbitrary bytes, from memory through the same file view
// that the scan reads files through: no input is written to a file.

#include "engine/detectors.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    FileCheckContext context;
    context.path = "<memory>";
    const int verdict = DetectThreatInMemory(&context, data, size);

    // The engine promises exactly these three results.
    if (verdict != VerdictClean && verdict != VerdictInfected && verdict != VerdictWarning) {
        std::fprintf(stderr, "detect_fuzz: DetectThreat returned %d\n", verdict);
        std::abort();
    }
    // A finding always names its threat; a clean file names none.
    if ((verdict == VerdictClean) != (context.threatName == nullptr)) {
        std::fprintf(stderr, "detect_fuzz: verdict %d with%s threat name\n", verdict,
                     context.threatName == nullptr ? "out a" : " a");
        std::abort();
    }
    // And it names it by an entry of the constant table, never by anything
    // derived from the file.
    if (context.threatName != nullptr) {
        bool inTable = false;
        for (const ThreatNameEntry& entry : ThreatNameTable) {
            inTable = inTable || context.threatName == &entry;
        }
        if (!inTable) {
            std::fprintf(stderr, "detect_fuzz: threat name outside the table\n");
            std::abort();
        }
    }
    return 0;
}
