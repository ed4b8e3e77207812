#pragma once
// An array that never moves: its whole capacity is reserved as address space up front and
// memory is committed page by page as elements are first written. A reader on another thread
// may therefore keep reading elements it was told about while the writer goes on appending,
// and growing never copies.
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace platform {

template <class T>
class TReservedArray {
 public:
  // Address space for `capacity` elements. MAP_NORESERVE commits nothing until written.
  // Where even the address space is short (a limited process), less is asked for, down to
  // `minimum`; below that the array has no room at all (Capacity() 0).
  explicit TReservedArray(size_t capacity, size_t minimum = size_t(1) << 20) {
    for (; capacity >= minimum && capacity > 0; capacity /= 4) {
      void* p = mmap(nullptr, capacity * sizeof(T), PROT_READ | PROT_WRITE,
                     MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
      if (p != MAP_FAILED) {
        Items_ = static_cast<T*>(p);
        Capacity_ = capacity;
        return;
      }
    }
  }
  ~TReservedArray() {
    if (Items_) munmap(Items_, Capacity_ * sizeof(T));
  }
  TReservedArray(const TReservedArray&) = delete;
  TReservedArray& operator=(const TReservedArray&) = delete;

  T* Data() const { return Items_; }
  size_t Capacity() const { return Capacity_; }
  T& operator[](size_t i) const { return Items_[i]; }

  // Gives the memory of the first `used` elements back to the system; they read as zero
  // when used again.
  void Release(size_t used) {
    if (Items_ && used > 0) madvise(Items_, used * sizeof(T), MADV_DONTNEED);
  }
  // The memory the first `used` elements hold, in whole pages.
  static size_t CommittedBytes(size_t used) {
    constexpr size_t Page = 4096;
    return (used * sizeof(T) + Page - 1) / Page * Page;
  }

 private:
  T* Items_ = nullptr;
  size_t Capacity_ = 0;
};

}  // namespace platform
