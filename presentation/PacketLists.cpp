#include "presentation/PacketLists.h"

TNodeList::TNodeList() : Items_(size_t(Capacity)) {}

void TNodeList::Clear() {
  const int32_t n = Count_.load(std::memory_order_relaxed);
  Count_.store(0, std::memory_order_release);
  Items_.Release(size_t(n));
}
