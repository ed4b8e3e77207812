#pragma once
// Frames stored the way the program stores them, and a row turned into plain strings.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "capture/QuarnMemory.h"
#include "presentation/CellText.h"
#include "tests/common/Frames.h"

constexpr int32_t kSec = 1000000000, kUsec = 120;

// Frames copied into a real packet store, with the list a view would hold (every frame).
class Stored {
 public:
  // caplen 0 keeps the whole frame.
  const TQuarnNode* Add(const Bytes& frame, uint32_t caplen = 0) {
    PCAP_PKTHDR h{{kSec, kUsec}, caplen ? caplen : uint32_t(frame.size()), uint32_t(frame.size())};
    const TQuarnNode* node = memory_.Add(&h, frame.data());
    numbers_.push_back(uint32_t(node->Index));
    return node;
  }
  TPacketList List() const { return {numbers_.data(), numbers_.size(), memory_.Nodes()}; }
  // A list of the one frame at `row`.
  TPacketList Only(size_t row) const { return {&numbers_.at(row), 1, memory_.Nodes()}; }

 private:
  TQuarnMemory memory_;
  std::vector<uint32_t> numbers_;
};

// A node laid out as the store lays it out, but alone in an allocation that ends at its last
// captured byte. In the store a zero byte and the next node follow the frame, which would
// hide a read past the capture; here AddressSanitizer reports it.
class ExactNode {
 public:
  ExactNode(const Bytes& frame, size_t caplen)
      : raw_(static_cast<uint8_t*>(std::malloc(sizeof(TQuarnNode) + std::min(caplen, frame.size()))),
             &std::free) {
    caplen = std::min(caplen, frame.size());
    auto* node = new (raw_.get()) TQuarnNode{};
    node->Index = 1;
    node->PktHdr = {{kSec, kUsec}, uint32_t(caplen), uint32_t(frame.size())};
    std::memcpy(raw_.get() + sizeof(TQuarnNode), frame.data(), caplen);
    node_ = node;
  }
  const TQuarnNode& Node() const { return *node_; }
  TPacketList List() const { return {&number_, 1, &node_}; }

 private:
  std::unique_ptr<uint8_t, decltype(&std::free)> raw_;
  const TQuarnNode* node_ = nullptr;
  const uint32_t number_ = 1;
};

inline std::vector<std::string> Cells(const TRowText& row) { return {row.begin(), row.end()}; }

// One view's row at position 0 of `list`, with both data offsets set to `offset`.
inline std::vector<std::string> Row(int32_t view, TPacketList list, int32_t offset = 0) {
  TRowText row;
  ViewRowText(view, list, 0, offset, offset, row);
  return Cells(row);
}
