#include "capture/FrameStore.h"

#include <algorithm>

#include "capture/FileStream.h"

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

void TFrameStore::ReadFrames(int32_t from, int32_t to,
                             const std::function<bool(const TFrame&)>& each) const {
  from = std::max(from, 1);
  to = std::min(to, Count());
  // A few frames (a running capture's latest) are read where they are; a pass from the start
  // streams the file, which lies in the order of the frames.
  constexpr int32_t StreamFrom = 4096;
  if (!Records_ || !Records_->File() || from != 1 || to < StreamFrom) {
    for (int32_t number = from; number <= to; ++number)
      if (!each(Frame(number))) return;
    return;
  }
  const TMappedFile& file = *Records_->File();
  TFileStream stream;
  stream.Start(file.Descriptor(), file.Size());
  TFrame frame;
  frame.Deep = DecodeIPv6AndVLAN();
  TFileRecord record;
  for (int32_t number = from; number <= to; ++number) {
    frame.Index = number;
    frame.Readable = Records_->FrameAt(stream, Offsets_[size_t(number - 1)], record);
    frame.PktHdr = frame.Readable ? record.Header : PCAP_PKTHDR{};
    frame.Bytes = frame.Readable ? record.Data : nullptr;
    frame.LinkType = frame.Readable ? record.LinkType : 1;
    if (!each(frame)) return;
  }
}
