#include "capture/QuarnMemory.h"

#include <cstdlib>
#include <cstring>
#include <new>

namespace {
constexpr size_t BlockSize = size_t(4) << 20;
constexpr size_t Alignment = alignof(TQuarnNode);
size_t RoundUp(size_t n) { return (n + Alignment - 1) & ~(Alignment - 1); }
}  // namespace

TQuarnMemory::~TQuarnMemory() { Clear(); }

void* TQuarnMemory::Allocate(size_t size) {
  size = RoundUp(size);
  if (size > Left_) {
    // A frame larger than a block gets a block of its own; the rest of the current block is
    // given up (at most one frame's worth per block).
    const size_t blockSize = size > BlockSize ? size : BlockSize;
    void* block = std::malloc(blockSize);
    if (!block) return nullptr;
    try {
      Blocks_.push_back(block);
    } catch (const std::bad_alloc&) {
      std::free(block);
      return nullptr;
    }
    Reserved_ += blockSize;
    Cursor_ = static_cast<uint8_t*>(block);
    Left_ = blockSize;
  }
  void* p = Cursor_;
  Cursor_ += size;
  Left_ -= size;
  return p;
}

TQuarnNode* TQuarnMemory::Add(const PCAP_PKTHDR* header, const void* frame) {
  void* p = Allocate(sizeof(TQuarnNode) + size_t(header->caplen) + 1);
  if (!p) return nullptr;
  auto* node = static_cast<TQuarnNode*>(p);
  node->Index = Last ? Last->Index + 1 : 1;
  node->PktHdr = *header;
  node->Next = nullptr;
  auto* data = reinterpret_cast<uint8_t*>(node + 1);
  std::memcpy(data, frame, header->caplen);
  data[header->caplen] = 0;
  if (!First) First = node;
  if (Last) Last->Next = node;
  Last = node;
  return node;
}

void TQuarnMemory::Clear() {
  for (void* block : Blocks_) std::free(block);
  Blocks_.clear();
  Cursor_ = nullptr;
  Left_ = 0;
  Reserved_ = 0;
  First = Last = nullptr;
}

void TQuarnMemory::Assign(const TQuarnMemory& Source) {
  if (&Source == this) return;
  Clear();
  for (const TQuarnNode* n = Source.First; n; n = n->Next) {
    if (!Add(&n->PktHdr, n->Data())) break;
  }
}
