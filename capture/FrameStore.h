#pragma once
// The packet store: every frame of a capture since the last Clear, in arrival order, numbered
// from 1. The store keeps no frame bytes. It keeps where each frame's record lies in the
// capture file (8 bytes a frame) and reads the header and the bytes back from the file when
// they are asked for: the kernel's page cache holds them, so a capture is bounded by the disk,
// not by this program's memory.
//
// The offsets sit in an array that never moves and publishes its count with a release store,
// so a reader on another thread that takes Count() first may read every frame below it while
// one thread goes on appending.
#include <atomic>
#include <cstdint>
#include <functional>

#include "capture/FileRecords.h"
#include "capture/PacketLayers.h"
#include "capture/QuarnFrame.h"
#include "platform/ReservedArray.h"

// One frame as the views see it: its number, its capture header and its captured bytes, which
// stay good while the store's file is open.
struct TFrame {
  // The frame's number in the store, from 1; 0 for no frame at all.
  int32_t Index = 0;
  // False for a frame whose bytes can no longer be read: the file was cut short by another
  // program after it was opened. Header and bytes are then empty.
  bool Readable = false;
  // Decoded with IPv6 and VLAN (the store's DecodeIPv6AndVLAN), or by type codes alone.
  bool Deep = false;
  // The link type of the frame's interface, as pcap_datalink gives it.
  int32_t LinkType = 1;
  PCAP_PKTHDR PktHdr{};
  const uint8_t* Bytes = nullptr;

  explicit operator bool() const { return Index > 0; }
  const uint8_t* Data() const { return Bytes; }
  const uint8_t* DataEnd() const { return Bytes + PktHdr.caplen; }
  // Where its headers lie; nothing for a frame that cannot be read.
  TPacketLayers Layers() const {
    TPacketLayers layers;
    DecodeLayers(LinkType, Deep, Bytes, Readable ? DataEnd() : Bytes, layers);
    return layers;
  }
};

class TFrameStore {
 public:
  // Frame numbers are 32-bit, as are the lists' references to them.
  static constexpr size_t Capacity = size_t(INT32_MAX);

  TFrameStore();
  TFrameStore(const TFrameStore&) = delete;
  TFrameStore& operator=(const TFrameStore&) = delete;

  // The records the offsets refer to; set before the first Add, and kept open while the
  // store is used.
  void Attach(const TFileRecords* records) { Records_ = records; }
  const TFileRecords* Records() const { return Records_; }

  // Appends the frame whose record starts at `offset`; false, and the store unchanged, when
  // it is full. One thread appends at a time.
  bool Add(uint64_t offset) {
    const int32_t n = Count_.load(std::memory_order_relaxed);
    if (size_t(n) >= Offsets_.Capacity()) return false;
    Offsets_[size_t(n)] = offset;
    Count_.store(n + 1, std::memory_order_release);
    return true;
  }
  // Empties the store and gives its memory back. Must not overlap an Add.
  void Clear();
  int32_t Count() const { return Count_.load(std::memory_order_acquire); }
  // The room the store has: less than Capacity where the address space is short.
  size_t Room() const { return Offsets_.Capacity(); }

  // Frame `number` (from 1 to Count()); a frame with Index 0 outside that range.
  TFrame Frame(int32_t number) const;
  uint64_t Offset(int32_t number) const { return Offsets_[size_t(number - 1)]; }
  // Frames `from` to `to` in order, each handed to `each` (false stops). A pass from the first
  // frame reads the file ahead with pread() on a thread of its own (see TFileStream) rather
  // than through the mapping: a pass over every frame then costs what reading the file does.
  // Each frame's bytes are good during its call only.
  void ReadFrames(int32_t from, int32_t to, const std::function<bool(const TFrame&)>& each) const;
  // Frame `number` will be read soon (see TFileRecords::Prefetch).
  void Prefetch(int32_t number) const {
    if (number >= 1 && number <= Count() && Records_) Records_->Prefetch(Offset(number));
  }

  // How the frames are decoded from now on (TFrame::Deep): set while no other thread reads
  // frames, and file the lists again after it changes.
  void SetDecodeIPv6AndVLAN(bool deep) { Deep_.store(deep, std::memory_order_relaxed); }
  bool DecodeIPv6AndVLAN() const { return Deep_.load(std::memory_order_relaxed); }

  // The memory the store holds now, for memory reports.
  size_t CommittedBytes() const {
    return Offsets_.CommittedBytes(size_t(Count_.load(std::memory_order_relaxed)));
  }
  // A file is about to be read in, and has been (see TReservedArray::FillInHugePages).
  void FillInHugePages() { Offsets_.FillInHugePages(); }
  void Trim() { Offsets_.Trim(size_t(Count_.load(std::memory_order_relaxed))); }

 private:
  const TFileRecords* Records_ = nullptr;
  platform::TReservedArray<uint64_t> Offsets_;
  std::atomic<int32_t> Count_{0};
  std::atomic<bool> Deep_{false};
};
