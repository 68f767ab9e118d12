// The bytes of the attachment being decoded: one buffer, grown as an
// attachment needs it up to ItemBound and reused for the next one. What an
// attachment holds beyond ItemBound is not stored; the item is marked cut.
// Only a program can hold a finding, and a program begins with "MZ": once
// the first two bytes are known to be something else, the item is marked
// cut as well, so that the rest is not decoded for nothing. And with a
// reach, a program is decoded only as far as its examiner reads it.
#pragma once

#include <cstdint>

#include "containers/contained.h"

// The most bytes one decoding step may produce: the buffer keeps this much
// room past its end, so that decoders write without checking each byte.
constexpr uint32_t ItemStepBytes = 48u << 10;

class ItemBytes {
public:
    ItemBytes() = default;
    ItemBytes(const ItemBytes&) = delete;
    ItemBytes& operator=(const ItemBytes&) = delete;
    ~ItemBytes();

    // False when not even the first room could be had.
    bool Prepare();
    void SetReach(ItemReach reach) { reach_ = reach; }
    void Reset();

    // Room for need (at most ItemStepBytes) bytes of the next step: in the
    // item while it is below its bound, else a scratch area whose bytes
    // only tell that the item was cut.
    uint8_t* Target(uint32_t need);
    void Commit(uint32_t produced);

    const uint8_t* data() const { return data_; }
    uint32_t size() const { return size_; }
    bool cut() const { return cut_; }
    // Nothing more is wanted: a decoder may stop decoding.
    bool done() const { return cut_; }
    // Until the item is known to begin as a program or not, a decoder
    // keeps its steps small, so that little is decoded before it is known.
    bool undecided() const { return size_ < 2 && !cut_; }
    // Bytes still to be decoded before the reach is asked again: a decoder
    // need not produce more than this in one step.
    uint32_t wanted() const { return reach_ == nullptr || nextAsk_ <= size_ ? ItemBound : nextAsk_ - size_; }

private:
    uint8_t* data_ = nullptr;
    uint32_t size_ = 0;
    uint32_t capacity_ = 0;  // bytes allocated, at most ItemBound + ItemStepBytes
    uint8_t* scratch_ = nullptr;
    bool toScratch_ = false;
    bool cut_ = false;
    ItemReach reach_ = nullptr;
    uint32_t nextAsk_ = 0;  // the size at which the reach is asked next
};
