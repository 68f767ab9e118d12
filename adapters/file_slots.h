// Storage for the file objects behind FileHandle. A scan has one file open
// at a time (two while a file is repaired or copied), so a few fixed slots
// spare the heap an allocation per scanned file; more objects at once come
// from the heap. Not for programs that open files on several threads at
// once: the POSIX programs scan on one thread.
#pragma once

#include <cstddef>
#include <new>

template <typename T>
class FileSlots {
public:
    T* New(const T& value) {
        for (size_t i = 0; i < Count; ++i) {
            if (!used_[i]) {
                used_[i] = true;
                slots_[i] = value;
                return &slots_[i];
            }
        }
        return new (std::nothrow) T(value);
    }

    void Delete(T* object) {
        for (size_t i = 0; i < Count; ++i) {
            if (object == &slots_[i]) {
                used_[i] = false;
                return;
            }
        }
        delete object;
    }

private:
    static constexpr size_t Count = 4;
    T slots_[Count] = {};
    bool used_[Count] = {};
};
