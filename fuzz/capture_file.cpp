// A capture file, as a damaged or hostile file brings it, through the whole path a file takes
// in the window: LoadFromFile, the packet store, filing into the eight views, every row of
// every view, and the payload pane (text and hex dump) of every row of the four views that
// have one.
//
// Input: the TCP data offset (4 bytes, little-endian), the UDP data offset (4 bytes), then
// the file's bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>

#include "capture/Quarn.h"
#include "capture/QuarnMemory.h"
#include "fuzz/FuzzSupport.h"
#include "presentation/CellText.h"
#include "presentation/Filing.h"
#include "presentation/PacketLists.h"
#include "presentation/Views.h"
#include "support/ZebTrace.h"

namespace {
// The file lives in memory and is opened by its /proc path, as any other file would be.
class MemoryFile {
 public:
  MemoryFile() : Fd_(memfd_create("capture", MFD_CLOEXEC)) {
    FUZZ_CHECK(Fd_ >= 0);
    Path_ = "/proc/self/fd/" + std::to_string(Fd_);
  }
  const std::string& Write(std::basic_string_view<uint8_t> bytes) {
    FUZZ_CHECK(ftruncate(Fd_, 0) == 0);
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = pwrite(Fd_, bytes.data() + done, bytes.size() - done, off_t(done));
      FUZZ_CHECK(n > 0);
      done += size_t(n);
    }
    return Path_;
  }

 private:
  int Fd_;
  std::string Path_;
};

// One component, store and set of lists read every input, as the window reuses its own: the
// component's constructor enumerates the adapters, which would otherwise dominate each run.
struct Pipeline {
  MemoryFile File;
  TQuarn Quarn;
  TQuarnMemory Memory;
  TPacketLists Lists;
  int32_t Delivered = 0;

  Pipeline() {
    // Nearly every input is a damaged file, and each would send a trace datagram to whoever
    // listens on the trace port of this machine (a viewer, or tests running beside the
    // fuzzer): the fuzzer runs without the trace.
    delete TraceLog;
    TraceLog = nullptr;
    Quarn.OnCapture = [this](TCustomQuarn&, const PCAP_PKTHDR* header, const ETH_HDR* frame) {
      ++Delivered;
      FUZZ_CHECK(header && frame);
      const TQuarnNode* node = Memory.Add(header, frame);
      FUZZ_CHECK(node && node->PktHdr.caplen == header->caplen);
      FUZZ_CHECK(Lists.File(node));
    };
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Pipeline p;
  FuzzInput in(data, size);
  const int32_t tcpOffset = in.Int32();
  const int32_t udpOffset = in.Int32();

  // The store goes on filling across inputs, as it does across files in the window until the
  // user clears it: a fresh 4 MiB block for every small input would cost more than the rest.
  p.Lists.Clear();
  if (p.Memory.ReservedBytes() > (size_t(64) << 20)) p.Memory.Clear();
  const TQuarnNode* const before = p.Memory.Last;
  p.Delivered = 0;
  const bool loaded = p.Quarn.LoadFromFile(p.File.Write(in.Rest()));
  // A file that cannot be opened delivers nothing and says why.
  if (!loaded) FUZZ_CHECK(p.Delivered == 0 && !p.Quarn.LastError().empty());
  FUZZ_CHECK(p.Lists[viETH].Count() == p.Delivered);

  // Every frame this input added to the store is in the Ethernet list, in order, and in the lists of exactly
  // the views its filing names.
  int32_t inView[ViewCount] = {};
  int32_t position = 0;
  const TQuarnNode* const first = before ? p.Memory.Next(before) : p.Memory.First;
  for (const TQuarnNode* node = first; node; node = p.Memory.Next(node), ++position) {
    FUZZ_CHECK(p.Lists[viETH].Items(p.Memory)[size_t(position)] == node);
    const TListSet lists = FrameLists(node->Frame(), node->DataEnd());
    for (int32_t view = viIP; view < ViewCount; ++view) {
      if (!(lists & ListBit(view))) continue;
      const TPacketList items = p.Lists[view].Items(p.Memory);
      FUZZ_CHECK(size_t(inView[view]) < items.size() && items[size_t(inView[view])] == node);
      ++inView[view];
    }
  }
  FUZZ_CHECK(position == p.Delivered);

  // A frame filed into a view shows a full row there, and one position past the end shows
  // nothing.
  TRowText row;
  for (int32_t view = 0; view < ViewCount; ++view) {
    if (view != viETH) FUZZ_CHECK(inView[view] == p.Lists[view].Count());
    const TPacketList items = p.Lists[view].Items(p.Memory);
    const size_t columns = ViewColumnCount(view);
    for (int32_t r = 0; r < int32_t(items.size()); ++r) {
      ViewRowText(view, items, r, tcpOffset, udpOffset, row);
      FUZZ_CHECK(row.Count() == columns);
      if (HasPayloadPane(view))
        CheckPayloadPane(view, *items[size_t(r)],
                         view == viTCP || view == viTCPData ? tcpOffset : udpOffset);
    }
    ViewRowText(view, items, int32_t(items.size()), tcpOffset, udpOffset, row);
    FUZZ_CHECK(row.Count() == 0);
  }
  return 0;
}
