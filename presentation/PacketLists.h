#pragma once
// The eight per-view packet lists: ordered references to stored frames, row i of a view
// being element i of its list. A reference is the frame's number in the store (4 bytes, where
// an address would take 8: a frame sits in three or four lists, so this is most of what the
// lists cost), turned into the frame by the store.
//
// A list is append-only storage that never moves: its whole capacity is reserved as address
// space up front and memory is committed page by page as it fills. Appending publishes the
// new length with a release store, so a reader on another thread that takes the length
// first may read every element below it while the capture thread goes on appending; no
// lock is needed on either side for that.
#include <algorithm>
#include <atomic>
#include <cstdint>

#include "capture/FrameStore.h"
#include "platform/ReservedArray.h"
#include "presentation/CellText.h"
#include "presentation/Filing.h"
#include "presentation/Views.h"

class TNodeList {
 public:
  // Room for this many references (row positions are 32-bit).
  static constexpr int32_t Capacity = int32_t(1) << 30;

  TNodeList();
  TNodeList(const TNodeList&) = delete;
  TNodeList& operator=(const TNodeList&) = delete;

  // Appends frame `number` of the store; false when the list is full (or no address space
  // could be reserved). One thread appends at a time.
  bool Add(int32_t number) {
    const int32_t n = Count_.load(std::memory_order_relaxed);
    if (size_t(n) >= Items_.Capacity()) return false;
    Items_[size_t(n)] = uint32_t(number);
    Count_.store(n + 1, std::memory_order_release);
    return true;
  }
  // Empties the list and gives its memory back. Must not overlap an Add.
  void Clear();
  int32_t Count() const { return Count_.load(std::memory_order_acquire); }
  // The references the list can hold: less than Capacity where address space is short.
  size_t Room() const { return Items_.Capacity(); }
  // The elements present now, as frames of `store` (the store they were added from).
  TPacketList Items(const TFrameStore& store) const {
    return {Items_.Data(), size_t(Count()), &store};
  }
  // The memory the list holds now, for memory reports.
  size_t CommittedBytes() const {
    return Items_.CommittedBytes(size_t(Count_.load(std::memory_order_relaxed)));
  }
  // A file is about to be read in, and has been (see TReservedArray::FillInHugePages).
  void FillInHugePages() { Items_.FillInHugePages(); }
  void Trim() { Items_.Trim(size_t(Count_.load(std::memory_order_relaxed))); }
  // The frame numbers themselves (Count() of them are good): for walks over a whole list
  // that would otherwise turn every row into a frame.
  const uint32_t* Numbers() const { return Items_.Data(); }

 private:
  platform::TReservedArray<uint32_t> Items_;
  std::atomic<int32_t> Count_{0};
};

// The lists of the eight views, in tab order.
class TPacketLists {
 public:
  TNodeList& operator[](int32_t view) { return Lists_[view]; }
  const TNodeList& operator[](int32_t view) const { return Lists_[view]; }

  // Files frame `number` of the store into the lists of its categories (`lists`, from
  // FrameLists); false when the Ethernet list is full (the frame then is in no list at all).
  bool File(int32_t number, TListSet lists) {
    if (!Lists_[viETH].Add(number)) return false;
    for (int32_t view = viIP; view < ViewCount; ++view)
      if (lists & ListBit(view)) Lists_[view].Add(number);
    return true;
  }
  void Clear() {
    for (auto& list : Lists_) list.Clear();
  }
  // The frames every list has room for.
  size_t Room() const {
    size_t room = Lists_[0].Room();
    for (const TNodeList& list : Lists_) room = std::min(room, list.Room());
    return room;
  }

 private:
  TNodeList Lists_[ViewCount];
};
