// One step of a walk, taken on the scanning thread in walk order: the
// adapters list, this counts, shows and handles. Both walks take their
// steps here, the sequential one and the one with readers ahead.
#pragma once

#include "scan/inside.h"

struct TreeStep;

// foundClean: a reader ahead of the handling found the file's own bytes
// clean, a final verdict; inside is then what it read inside the file,
// whole (null: nothing to report there). Otherwise the handling examines
// the file itself.
void TakeStep(TreeStep* step, bool foundClean, const InsideRecord* inside = nullptr);
