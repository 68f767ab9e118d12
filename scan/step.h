// One step of a walk, taken on the scanning thread in walk order: the
// adapters list, this counts, shows and handles. Both walks take their
// steps here, the sequential one and the one with readers ahead.
#pragma once

#include "scan/inside.h"

struct TreeStep;

// What a reader ahead of the handling made of a file whose own bytes it
// found clean, a final verdict: inside is what it read inside the file,
// whole (null: nothing to report there).
struct SeenAhead {
    const InsideRecord* inside = nullptr;
};

// seen: null when no reader has found the file clean; the handling then
// examines it itself.
void TakeStep(TreeStep* step, const SeenAhead* seen);
