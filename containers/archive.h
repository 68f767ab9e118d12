// Readers of archives: ZIP (stored and deflated, ZIP64 sizes) and RAR 1.5-4.x
// and RAR5 (entries stored without compression). Every entry is handed over
// as an item; an entry that is itself an archive is read in turn, to a depth
// of MostArchiveDepth. Nothing is ever written.
#pragma once

#include <cstdint>

#include "containers/contained.h"
#include "containers/recognize.h"

constexpr uint32_t MostArchiveDepth = 3;

// Zip, Rar4 or Rar5 when the first bytes call for one of them, else None.
ContainerKind RecognizeArchive(const uint8_t* head, uint32_t length);

// A program followed by an archive (a self-extracting one): programEnd is
// where the program's own bytes end. True, with the archive's kind and
// first byte, when an archive follows.
bool FindAppendedArchive(const ByteSource& source, uint64_t programEnd, ContainerKind* kind, uint64_t* start);

ContainerOutcome ReadArchive(ContainerKind kind, const ByteSource& source, uint64_t start, ItemSink sink,
                             void* context);
