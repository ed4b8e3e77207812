#pragma once
// An array that never moves: its whole capacity is reserved as address space up front and
// memory is committed page by page as elements are first written. A reader on another thread
// may therefore keep reading elements it was told about while the writer goes on appending,
// and growing never copies.
//
// Past its first HugeFrom bytes the array is advised as huge pages. Filling an array of
// millions of elements otherwise costs a page fault every 4 KiB, and on the thread that
// appends, which is the one reading a capture file: with huge pages a capture of 10 million
// frames reads about 10% faster. Below that size 4 KiB pages keep small captures small: a
// huge page is committed whole, so the array holds at most 2 MiB it does not use, at most an
// eighth of what it uses. A filling with an end (a file read) asks for huge pages from the first
// byte and trims the last one when it is over: a small page's first touch costs as much as
// filing a hundred frames on a virtual machine, and a million frames' store and lists take
// six thousand of them.
#include <sys/mman.h>

#include <algorithm>
#include <atomic>
#include <cstddef>
#include <cstdint>

#include "platform/HugePages.h"

namespace platform {

template <class T>
class TReservedArray {
 public:
  // Address space for `capacity` elements. MAP_NORESERVE commits nothing until written.
  // Where even the address space is short (a limited process), less is asked for, down to
  // `minimum`; below that the array has no room at all (Capacity() 0).
  explicit TReservedArray(size_t capacity, size_t minimum = size_t(1) << 20) {
    for (; capacity >= minimum && capacity > 0; capacity /= 4) {
      const size_t size = RoundUp(capacity * sizeof(T), Page);
      auto* items = static_cast<uint8_t*>(MapHugeAligned(size, MAP_NORESERVE));
      if (!items) continue;
      if (size > HugeFrom) madvise(items + HugeFrom, size - HugeFrom, MADV_HUGEPAGE);
      Items_ = reinterpret_cast<T*>(items);
      Capacity_ = capacity;
      return;
    }
  }
  ~TReservedArray() {
    if (Items_) munmap(Items_, MappedBytes());
  }
  TReservedArray(const TReservedArray&) = delete;
  TReservedArray& operator=(const TReservedArray&) = delete;

  T* Data() const { return Items_; }
  size_t Capacity() const { return Capacity_; }
  T& operator[](size_t i) const { return Items_[i]; }

  // Gives the memory of the first `used` elements back to the system; they read as zero
  // when used again. The whole of the last page goes: given back only in part, a huge page
  // would be split and the rest of it kept.
  // What FillInHugePages advised goes back to small pages, for the next, perhaps small,
  // filling.
  void Release(size_t used) {
    if (Items_ && used > 0)
      madvise(Items_, std::min(CommittedBytes(used), MappedBytes()), MADV_DONTNEED);
    if (const size_t huge = HugeUpTo_.exchange(0, std::memory_order_relaxed))
      madvise(Items_, huge, MADV_NOHUGEPAGE);
  }
  // The array is about to be filled and then left as it is (a file read into it): it fills
  // huge pages from its first byte, and Trim gives back what the last of them holds past
  // the elements written. Pages already written stay small. One thread fills at a time.
  void FillInHugePages() {
    if (!Items_) return;
    const size_t bytes = std::min(MappedBytes(), HugeFrom) & ~(HugePage - 1);
    if (bytes <= HugeUpTo_.load(std::memory_order_relaxed)) return;
    madvise(Items_, bytes, MADV_HUGEPAGE);
    HugeUpTo_.store(bytes, std::memory_order_relaxed);
  }
  // The filling is over at `used` elements: the pages of the huge part past them go back to
  // the system (the kernel splits that huge page), and later elements fill small pages.
  void Trim(size_t used) {
    const size_t huge = HugeUpTo_.load(std::memory_order_relaxed);
    const size_t from = RoundUp(used * sizeof(T), Page);
    if (!Items_ || from >= huge) return;
    auto* items = reinterpret_cast<uint8_t*>(Items_);
    madvise(items + from, huge - from, MADV_DONTNEED);
    madvise(items + from, std::min(HugeFrom, MappedBytes()) - from, MADV_NOHUGEPAGE);
    HugeUpTo_.store(from, std::memory_order_relaxed);
  }
  // The memory the first `used` elements hold, in whole pages: huge pages where FillInHugePages
  // advised them (up to where Trim cut them) and past HugeFrom (where the system has none to
  // give, it holds less).
  size_t CommittedBytes(size_t used) const {
    const size_t bytes = used * sizeof(T);
    const size_t huge = HugeUpTo_.load(std::memory_order_relaxed);
    if (bytes <= huge) return std::min(RoundUp(bytes, HugePage), huge);
    if (bytes <= HugeFrom) return huge + RoundUp(bytes - huge, Page);
    return HugeFrom + RoundUp(bytes - HugeFrom, HugePage);
  }

  static constexpr size_t Page = 4096;
  static constexpr size_t HugePage = platform::HugePage;
  static constexpr size_t HugeFrom = size_t(16) << 20;

 private:
  static size_t RoundUp(size_t n, size_t to) { return (n + to - 1) / to * to; }
  size_t MappedBytes() const { return RoundUp(Capacity_ * sizeof(T), Page); }

  T* Items_ = nullptr;
  size_t Capacity_ = 0;
  // Bytes from the start advised as huge pages by FillInHugePages (cut by Trim).
  std::atomic<size_t> HugeUpTo_{0};
};

}  // namespace platform
