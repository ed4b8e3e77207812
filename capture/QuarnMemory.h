#pragma once
// The packet store: every frame captured since the last Clear, in arrival order, as
// self-contained nodes numbered from 1, walked from First through Next.
//
// Nodes are carved from large blocks rather than allocated one by one: appending costs a
// pointer bump and a copy, and a node never moves once written, so a reader on another thread
// can follow a reference it was handed while the capture thread goes on appending.
//
// Memory per frame is what a capture of millions of frames is made of, so a node holds no
// link: the store keeps one table of its nodes by number (8 bytes a frame), which gives the
// walk its next node and lets the per-view lists refer to a frame by its 32-bit number
// instead of by a 64-bit address. A node is its 20-byte header, the captured bytes and one
// zero byte, rounded up to 4 bytes.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "capture/QuarnFrame.h"
#include "platform/ReservedArray.h"

struct TQuarnNode {
  int32_t Index;
  PCAP_PKTHDR PktHdr;

  // The frame area follows the node directly: caplen captured bytes and one zero byte.
  // Only caplen bytes come from the capture; the wire length `len` may be far larger (a
  // snap length cuts frames short, and a damaged file may claim gigabytes), so the area is
  // sized from caplen and every reader is bounded by DataEnd().
  const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
  const uint8_t* DataEnd() const { return Data() + PktHdr.caplen; }
  const ETH_HDR* Frame() const { return reinterpret_cast<const ETH_HDR*>(Data()); }
};
static_assert(sizeof(TQuarnNode) == 20 && alignof(TQuarnNode) == 4);

class TQuarnMemory {
 public:
  TQuarnMemory();
  ~TQuarnMemory();
  TQuarnMemory(const TQuarnMemory&) = delete;
  TQuarnMemory& operator=(const TQuarnMemory&) = delete;

  // Copies the header and the caplen frame bytes into a new node numbered one above the
  // last; nullptr (and the store unchanged) when memory cannot be had.
  TQuarnNode* Add(const PCAP_PKTHDR* header, const void* frame);
  void Clear();
  // Clear, then a copy of every frame of Source, numbered from 1.
  void Assign(const TQuarnMemory& Source);
  // The node after `node` (one of this store's), or nullptr after the last and for nullptr.
  // Safe on another thread while frames are being added: the walk ends at the last node
  // whose number had been published.
  TQuarnNode* Next(const TQuarnNode* node) const {
    return node && node->Index < Count() ? Nodes_[size_t(node->Index)] : nullptr;
  }
  // Frames held; as Next, readable on another thread.
  int32_t Count() const { return Count_.load(std::memory_order_acquire); }
  // The node table: frame number n (from 1) is Nodes()[n - 1]. It never moves, so a list of
  // frame numbers may keep it; entries below Count() are final.
  const TQuarnNode* const* Nodes() const { return Nodes_.Data(); }

  TQuarnNode* First = nullptr;
  TQuarnNode* Last = nullptr;

  // Bytes obtained from the system for nodes (blocks) and for the node table, for memory
  // reports.
  size_t ReservedBytes() const {
    const auto frames = size_t(Count_.load(std::memory_order_relaxed));
    return Reserved_ + decltype(Nodes_)::CommittedBytes(frames);
  }

 private:
  class BlockSupplier;
  void* Allocate(size_t size);

  std::unique_ptr<BlockSupplier> Supplier_;
  platform::TReservedArray<TQuarnNode*> Nodes_;
  std::atomic<int32_t> Count_{0};

  struct TBlock {
    void* Start;
    size_t Size;
  };
  std::vector<TBlock> Blocks_;
  uint8_t* Cursor_ = nullptr;
  size_t Left_ = 0;
  size_t Reserved_ = 0;
};
