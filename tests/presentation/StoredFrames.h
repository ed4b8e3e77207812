#pragma once
// Frames for the row and payload routines, and a row turned into plain strings.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>
#include <string>
#include <vector>

#include "presentation/CellText.h"
#include "tests/common/Frames.h"

constexpr int32_t kSec = 1000000000, kUsec = 120;

// Frames held in memory, each in an allocation of its own that ends at its last captured
// byte: a read past the capture is then one that AddressSanitizer reports. Rows are built
// from them as from a store's.
class Stored {
 public:
  Stored() { frames_.reserve(Capacity); }
  // caplen 0 keeps the whole frame. The frame stays where it is while the object lives.
  const TFrame& Add(const Bytes& frame, uint32_t caplen = 0) {
    return AddCut(frame, caplen ? std::min<size_t>(caplen, frame.size()) : frame.size());
  }
  // The first `kept` bytes of the frame, none at all for 0.
  const TFrame& AddCut(const Bytes& frame, size_t kept) {
    if (frames_.size() == Capacity) std::abort();
    kept = std::min(kept, frame.size());
    bytes_.emplace_back(static_cast<uint8_t*>(std::malloc(std::max<size_t>(kept, 1))), &std::free);
    if (kept) std::memcpy(bytes_.back().get(), frame.data(), kept);
    TFrame f;
    f.Index = int32_t(frames_.size()) + 1;
    f.Readable = true;
    f.PktHdr = {{kSec, kUsec}, uint32_t(kept), uint32_t(frame.size())};
    f.Bytes = bytes_.back().get();
    frames_.push_back(f);
    return frames_.back();
  }
  TPacketList List() const { return {frames_.data(), frames_.size()}; }
  // A list of the one frame at `row`.
  TPacketList Only(size_t row) const { return {&frames_.at(row), 1}; }

 private:
  static constexpr size_t Capacity = 4096;
  std::vector<TFrame> frames_;
  std::vector<std::unique_ptr<uint8_t, decltype(&std::free)>> bytes_;
};

// One frame alone with its first `caplen` bytes captured.
class ExactNode {
 public:
  ExactNode(const Bytes& frame, size_t caplen) : frame_(&stored_.AddCut(frame, caplen)) {}
  const TFrame& Node() const { return *frame_; }
  TPacketList List() const { return stored_.Only(0); }

 private:
  Stored stored_;
  const TFrame* frame_;
};

inline std::vector<std::string> Cells(const TRowText& row) { return {row.begin(), row.end()}; }

// One view's row at position 0 of `list`, with both data offsets set to `offset`.
inline std::vector<std::string> Row(int32_t view, TPacketList list, int32_t offset = 0) {
  TRowText row;
  ViewRowText(view, list, 0, offset, offset, row);
  return Cells(row);
}
