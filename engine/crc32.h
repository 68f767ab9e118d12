#pragma once

#include <cstdint>

// Reflected CRC-32 table of polynomial 0xEDB88320.
extern const uint32_t CrcTable[256];

// Register starts at 0xFFFFFFFF and is returned without the final
// inversion, so the result is the complement of the usual CRC-32. Zero or
// negative lengths give 0xFFFFFFFF without touching data.
uint32_t Crc32Raw(const void* data, int32_t length);
