// SHA-256, for checking that what is put back is byte for byte what was
// saved.
#pragma once

#include <cstddef>
#include <cstdint>

struct Sha256 {
    uint32_t state[8];
    uint64_t length;  // bytes hashed so far
    uint8_t block[64];
    uint32_t used;  // bytes waiting in block
};

void Sha256Start(Sha256* hash);
void Sha256Add(Sha256* hash, const void* data, size_t size);
// The digest as 64 lowercase hexadecimal digits and a terminating zero.
void Sha256Hex(Sha256* hash, char hex[65]);
