// Storage for the file objects behind FileHandle. A scan's handling has one
// file open at a time (two while a file is repaired or copied), and each of
// its readers one, so a few fixed slots spare the heap an allocation per
// scanned file; more objects at once come from the heap. A slot is taken
// and given back atomically: readers open and close files on threads of
// their own.
#pragma once

#include <atomic>
#include <cstddef>
#include <new>

template <typename T>
class FileSlots {
public:
    T* New(const T& value) {
        for (size_t i = 0; i < Count; ++i) {
            if (!used_[i].exchange(true, std::memory_order_acquire)) {
                slots_[i] = value;
                return &slots_[i];
            }
        }
        return new (std::nothrow) T(value);
    }

    void Delete(T* object) {
        for (size_t i = 0; i < Count; ++i) {
            if (object == &slots_[i]) {
                used_[i].store(false, std::memory_order_release);
                return;
            }
        }
        delete object;
    }

private:
    static constexpr size_t Count = 8;
    T slots_[Count] = {};
    std::atomic<bool> used_[Count] = {};
};
