#include "presentation/PacketLists.h"

#include <sys/mman.h>

namespace {
constexpr size_t Bytes(int32_t entries) { return size_t(entries) * sizeof(const TQuarnNode*); }
}  // namespace

TNodeList::TNodeList() {
  // Address space only: MAP_NORESERVE commits nothing until an entry is written. Where even
  // the address space is short (a limited process), ask for less.
  for (int32_t capacity = Capacity; capacity >= (1 << 20); capacity /= 4) {
    void* p = mmap(nullptr, Bytes(capacity), PROT_READ | PROT_WRITE,
                   MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE, -1, 0);
    if (p != MAP_FAILED) {
      Items_ = static_cast<const TQuarnNode**>(p);
      Capacity_ = capacity;
      return;
    }
  }
}

TNodeList::~TNodeList() {
  if (Items_) munmap(Items_, Bytes(Capacity_));
}

void TNodeList::Clear() {
  const int32_t n = Count_.load(std::memory_order_relaxed);
  Count_.store(0, std::memory_order_release);
  // Hand the committed pages back; they read as zero if they are used again.
  if (n > 0) madvise(Items_, Bytes(n), MADV_DONTNEED);
}
