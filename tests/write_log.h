// The writes and flushes a handling makes, recorded through the file I/O
// layer's seams in the order they happen, and every state a power cut could
// leave on the disk because of them.
#pragma once

#include <cstdint>
#include <vector>

namespace writelog {

using Bytes = std::vector<uint8_t>;

struct Event {
    enum Kind { Write, Flush, Mark } kind;
    int64_t position;
    Bytes bytes;
    // Restart-time requests made before this event.
    uint32_t requestsBefore;
};

extern std::vector<Event> events;

// Forgets what was recorded and starts recording; ResetSeams stops it.
void Start();
// A point of the test's own in the log (a row, for instance).
void Mark();

// A system may write dirty pages back in any order until a flush, so a power
// cut after any event leaves what the last flush made durable plus any subset
// of the 4 KiB pages written since, each as it was then. All such states of
// a file of the given starting bytes, each once; false (with none) when some
// moment has more dirty pages than can be enumerated, or a write falls
// outside the file.
bool PowerCutStates(const Bytes& before, std::vector<Bytes>* states);

}  // namespace writelog
