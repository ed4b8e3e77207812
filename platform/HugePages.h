#pragma once
// Memory mapped from the system on a huge-page boundary: the system backs only aligned 2 MiB
// ranges with huge pages.
#include <sys/mman.h>

#include <cstddef>
#include <cstdint>

namespace platform {

constexpr size_t HugePage = size_t(2) << 20;

// `size` bytes (a multiple of 4 KiB) of private anonymous memory starting on a huge-page
// boundary, with `flags` added to the mapping's; nullptr when the system has none. One huge
// page more is asked for and what lies outside the aligned range is given back, so it is
// unmapped as `size` bytes from the address returned.
inline void* MapHugeAligned(size_t size, int flags = 0) {
  void* mapped = mmap(nullptr, size + HugePage, PROT_READ | PROT_WRITE,
                      MAP_PRIVATE | MAP_ANONYMOUS | flags, -1, 0);
  if (mapped == MAP_FAILED) return nullptr;
  auto* start = static_cast<uint8_t*>(mapped);
  auto* aligned = reinterpret_cast<uint8_t*>(
      (reinterpret_cast<uintptr_t>(start) + HugePage - 1) & ~uintptr_t(HugePage - 1));
  if (aligned > start) munmap(start, size_t(aligned - start));
  if (const size_t tail = size_t(start + size + HugePage - (aligned + size)))
    munmap(aligned + size, tail);
  return aligned;
}

}  // namespace platform
