#include "capture/FrameStore.h"

TFrameStore::TFrameStore() : Offsets_(Capacity) {}

void TFrameStore::Clear() {
  Offsets_.Release(size_t(Count_.load(std::memory_order_relaxed)));
  Count_.store(0, std::memory_order_release);
}

TFrame TFrameStore::Frame(int32_t number) const {
  TFrame frame;
  if (number < 1 || number > Count() || !Records_) return frame;
  frame.Index = number;
  frame.Deep = DecodeIPv6AndVLAN();
  TFileRecord record;
  if (!Records_->FrameAt(Offsets_[size_t(number - 1)], record)) return frame;
  frame.Readable = true;
  frame.PktHdr = record.Header;
  frame.Bytes = record.Data;
  frame.LinkType = record.LinkType;
  return frame;
}
