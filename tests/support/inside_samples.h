// Mail folders and archives with threats inside, for the end-to-end checks
// of both programs and the demo: each sample with the rows a scan must give
// it. Such files are never changed, so each must come out of any scan as it
// went in.
#pragma once

#include <string>
#include <vector>

#include "tests/support/synth.h"

namespace synth {

struct InsideSample {
    std::string path;                   // relative, '/' between folders
    Bytes bytes;
    std::vector<std::string> statuses;  // its rows, in order
};

std::vector<InsideSample> BuildInsideSamples(uint32_t seed);

// The report's lines about what lies inside, for the samples together:
// "label<TAB>value" each.
std::vector<std::string> InsideReportLines();

}  // namespace synth
