#pragma once
// The packet store: every frame captured since the last Clear, in arrival order, as a singly
// linked list of self-contained nodes numbered from 1.
//
// Nodes are carved from large blocks rather than allocated one by one: appending costs a
// pointer bump and a copy, memory per frame is the node header plus the captured bytes, and
// a node never moves once written, so a reader on another thread can follow a reference it
// was handed while the capture thread goes on appending.
#include <cstddef>
#include <cstdint>
#include <memory>
#include <vector>

#include "capture/QuarnFrame.h"

struct TQuarnNode {
  int32_t Index;
  PCAP_PKTHDR PktHdr;
  TQuarnNode* Next;

  // The frame area follows the node directly: caplen captured bytes and one zero byte.
  // Only caplen bytes come from the capture; the wire length `len` may be far larger (a
  // snap length cuts frames short, and a damaged file may claim gigabytes), so the area is
  // sized from caplen and every reader is bounded by DataEnd().
  const uint8_t* Data() const { return reinterpret_cast<const uint8_t*>(this + 1); }
  const uint8_t* DataEnd() const { return Data() + PktHdr.caplen; }
  const ETH_HDR* Frame() const { return reinterpret_cast<const ETH_HDR*>(Data()); }
};
static_assert(sizeof(TQuarnNode) == 32);

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
  static TQuarnNode* Next(const TQuarnNode* node) { return node ? node->Next : nullptr; }

  TQuarnNode* First = nullptr;
  TQuarnNode* Last = nullptr;

  // Bytes obtained from the system for nodes (blocks), for memory reports.
  size_t ReservedBytes() const { return Reserved_; }

 private:
  class BlockSupplier;
  void* Allocate(size_t size);

  std::unique_ptr<BlockSupplier> Supplier_;

  struct TBlock {
    void* Start;
    size_t Size;
  };
  std::vector<TBlock> Blocks_;
  uint8_t* Cursor_ = nullptr;
  size_t Left_ = 0;
  size_t Reserved_ = 0;
};
