#include "containers/item_bytes.h"

#include <cstdlib>

namespace {

constexpr uint32_t FirstCapacity = 64u << 10;
constexpr uint32_t MostCapacity = ItemBound + ItemStepBytes;
// Detection reads a program's head and the 32 KiB after its first 4 KiB:
// it is asked first once those are decoded, since it needs them anyway.
constexpr uint32_t FirstAsk = 36u << 10;

}  // namespace

ItemBytes::~ItemBytes() {
    std::free(data_);
    std::free(scratch_);
}

bool ItemBytes::Prepare() {
    if (scratch_ == nullptr) scratch_ = static_cast<uint8_t*>(std::malloc(ItemStepBytes));
    return scratch_ != nullptr;
}

void ItemBytes::Reset() {
    size_ = 0;
    cut_ = false;
    toScratch_ = false;
    nextAsk_ = FirstAsk;
}

uint8_t* ItemBytes::Target(uint32_t need) {
    toScratch_ = true;
    if (cut_ || size_ >= ItemBound || need > ItemStepBytes) return scratch_;
    if (need > capacity_ - size_) {
        uint32_t grown = capacity_ == 0 ? FirstCapacity : capacity_;
        while (grown - size_ < need && grown < MostCapacity) grown = grown > MostCapacity / 2 ? MostCapacity : grown * 2;
        void* moved = std::realloc(data_, grown);
        // Without memory the item is handed over as far as it got, cut.
        if (moved == nullptr) return scratch_;
        data_ = static_cast<uint8_t*>(moved);
        capacity_ = grown;
    }
    toScratch_ = false;
    return data_ + size_;
}

void ItemBytes::Commit(uint32_t produced) {
    if (produced == 0) return;
    if (toScratch_) {
        cut_ = true;
        return;
    }
    const bool undecided = size_ < 2;
    if (produced > ItemBound - size_) {
        size_ = ItemBound;
        cut_ = true;
    } else {
        size_ += produced;
    }
    if (undecided && size_ >= 2 && (data_[0] != 'M' || data_[1] != 'Z')) cut_ = true;
    if (cut_ || reach_ == nullptr || size_ < nextAsk_) return;
    const uint64_t reach = reach_(data_, size_);
    if (reach <= size_) {
        cut_ = true;
    } else {
        nextAsk_ = reach < ItemBound ? static_cast<uint32_t>(reach) : ItemBound;
    }
}
