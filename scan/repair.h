// In-place repair of hosts infected by the file infector. The file keeps its
// size and section table; the virus body stays behind as zeros.
#pragma once

#include <cstdint>

#include "engine/check_context.h"
#include "engine/exe_headers.h"

enum RepairResult : int {
    RepairDone = 0,
    RepairBodyNotFound = 1,  // nothing could be repaired; the file is untouched
    RepairWriteFailed = 2,   // a write came short: the repair did not finish
    RepairOpenError = 4,
    RepairDeleteFile = 6,  // not a host: the whole file is the threat
};

// Chooses the method by the identity of the context's threat entry. The
// verdict may be stale (another program may have changed the file since it
// was examined), so every method first finds again, through the handle it
// writes with, the marks and checksums it acts on, and otherwise returns
// RepairBodyNotFound without writing.
RepairResult RepairFile(FileCheckContext* context);
RepairResult RepairElkernC(FileCheckContext* context);
RepairResult RepairElkernAB(FileCheckContext* context);

// Zeroes the chain of virus blocks that starts at startRva. bodyBuffer holds
// at least ElkernBufferSize bytes and is cleared to serve as the source of
// zeros. False when a read or write of a block came short, so the wipe did
// not finish.
bool WipeBlockChain(uint32_t startRva, FileCheckContext* context, const ByteBlock& peHeaders, uint8_t* bodyBuffer);
