// A capture file, as a damaged or hostile file brings it, through the whole path a file takes
// in the window: the capture reading it in place, filing into the eight views, every row of
// every view, the payload pane (text and hex dump) of every row of the four views that have
// one, the views filtered, sorted by every column and searched, and conversations followed. The frames must be exactly those libpcap's own reader delivers.
//
// Input: the TCP data offset (4 bytes, little-endian), the UDP data offset (4 bytes; its bit
// 30 chooses decoding with IPv6 and VLAN, and is then cleared), then the file's bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include <pcap/pcap.h>

#include "capture/Quarn.h"
#include "pipeline/CapturePipeline.h"
#include "pipeline/Conversation.h"
#include "pipeline/ShownRows.h"
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

// One component opens every input, as the window reuses its own: the component's
// constructor enumerates the adapters, which would otherwise dominate each run.
struct Reader {
  MemoryFile File;
  TQuarn Quarn;
  // What libpcap itself delivers for the input: the capture must hold exactly these frames.
  std::vector<PCAP_PKTHDR> Headers;
  std::vector<std::basic_string<uint8_t>> Frames;

  Reader() {
    // Nearly every input is a damaged file, and each would send a trace datagram to whoever
    // listens on the trace port of this machine (a viewer, or tests running beside the
    // fuzzer): the fuzzer runs without the trace.
    delete TraceLog;
    TraceLog = nullptr;
  }

  // Reads the file with libpcap alone: false when the component could not open it; `whole`
  // is false when a record stopped the reading before the end.
  bool ReadWithLibpcap(const std::string& path, bool& whole) {
    Headers.clear();
    Frames.clear();
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(path.c_str(), errbuf);
    if (!p) return false;
    // The component refuses a file whose link type no filter can be compiled for, even the
    // empty one (an unknown link type).
    bpf_program program{};
    if (pcap_compile(p, &program, "", 1, PCAP_NETMASK_UNKNOWN) < 0) {
      pcap_close(p);
      return false;
    }
    pcap_freecode(&program);
    pcap_pkthdr* h;
    const u_char* d;
    int result;
    while ((result = pcap_next_ex(p, &h, &d)) == 1) {
      // As the capture component converts it for this program's 32-bit header.
      Headers.push_back({{int32_t(h->ts.tv_sec), int32_t(h->ts.tv_usec)}, h->caplen, h->len});
      Frames.emplace_back(d, h->caplen);
    }
    whole = result == -2;
    pcap_close(p);
    return true;
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static Reader p;
  FuzzInput in(data, size);
  const int32_t tcpOffset = in.Int32();
  int32_t udpOffset = in.Int32();
  const bool deep = udpOffset & (1 << 30);
  udpOffset &= ~(1 << 30);
  const std::string& path = p.File.Write(in.Rest());

  bool whole = false;
  const bool loaded = p.ReadWithLibpcap(path, whole);
  TCapturePipeline capture;
  capture.SetDecodeIPv6AndVLAN(deep);
  std::string error;
  const auto read = capture.ReadFile(p.Quarn, path, error);
  // A file libpcap cannot open is not opened, and one it reads whole is read whole.
  FUZZ_CHECK(loaded == (read != TCapturePipeline::TReadResult::Failed));
  FUZZ_CHECK((loaded && whole) == (read == TCapturePipeline::TReadResult::Complete));
  FUZZ_CHECK(capture.Count() == int32_t(p.Headers.size()));

  // Every frame is the one libpcap delivered, in the Ethernet list in order, and in the
  // lists of exactly the views its filing names.
  int32_t inView[ViewCount] = {};
  for (int32_t n = 1; n <= capture.Count(); ++n) {
    const TFrame frame = capture.Store().Frame(n);
    FUZZ_CHECK(frame.Readable && frame.Index == n);
    const PCAP_PKTHDR& h = p.Headers[size_t(n - 1)];
    FUZZ_CHECK(frame.PktHdr.ts.tv_sec == h.ts.tv_sec && frame.PktHdr.ts.tv_usec == h.ts.tv_usec &&
               frame.PktHdr.caplen == h.caplen && frame.PktHdr.len == h.len);
    FUZZ_CHECK(std::basic_string_view<uint8_t>(frame.Data(), frame.PktHdr.caplen) ==
               p.Frames[size_t(n - 1)]);
    FUZZ_CHECK(capture.Items(viETH)[size_t(n - 1)].Index == n);
    const TListSet lists = FrameLists(frame.Layers());
    for (int32_t view = viIP; view < ViewCount; ++view) {
      if (!(lists & ListBit(view))) continue;
      const TPacketList items = capture.Items(view);
      FUZZ_CHECK(size_t(inView[view]) < items.size() && items[size_t(inView[view])].Index == n);
      ++inView[view];
    }
  }

  // Filed again the other way and back, every list is as it was.
  FUZZ_CHECK(capture.Refile(!deep) && capture.Refile(deep));
  for (int32_t view = viIP; view < ViewCount; ++view) FUZZ_CHECK(inView[view] == capture.List(view).Count());

  // A frame filed into a view shows a full row there, and one position past the end shows
  // nothing.
  TRowText row;
  for (int32_t view = 0; view < ViewCount; ++view) {
    if (view != viETH) FUZZ_CHECK(inView[view] == capture.List(view).Count());
    const TPacketList items = capture.Items(view);
    const size_t columns = ViewColumnCount(view);
    for (int32_t r = 0; r < int32_t(items.size()); ++r) {
      ViewRowText(view, items, r, tcpOffset, udpOffset, row);
      FUZZ_CHECK(row.Count() == columns);
      if (HasPayloadPane(view))
        CheckPayloadPane(view, items[size_t(r)],
                         PayloadOf(view) == TPayloadKind::TCP ? tcpOffset : udpOffset);
    }
    ViewRowText(view, items, int32_t(items.size()), tcpOffset, udpOffset, row);
    FUZZ_CHECK(row.Count() == 0);
  }

  // The views as shown: filtered, then sorted by each column both ways, every view holds
  // exactly the frames of its list the filter passes, and a search ends.
  TShownViews shown;
  std::string error;
  // libpcap refuses the expression for a link type without those protocols: it says so, and
  // every frame stays shown.
  const bool filtered = shown.ApplyFilter(capture, "tcp or udp or arp", error);
  FUZZ_CHECK(filtered != !error.empty());
  const TShownViews::TOffsets offsets{tcpOffset, udpOffset};
  for (int32_t view = 0; view < ViewCount; ++view) {
    std::vector<uint32_t> passed;
    const TPacketList list = capture.Items(view);
    for (size_t r = 0; r < list.size(); ++r)
      if (!filtered || shown.Filter().Matches(list[r])) passed.push_back(uint32_t(list[r].Index));
    const int32_t columns = int32_t(ViewColumnCount(view));
    for (int32_t column = -1; column < columns; ++column) {
      for (const bool descending : {false, true}) {
        FUZZ_CHECK(shown.Sort(capture, view, column, descending, offsets));
        const TPacketList items = shown.Items(capture, view);
        std::vector<uint32_t> numbers;
        for (size_t r = 0; r < items.size(); ++r) numbers.push_back(uint32_t(items[r].Index));
        std::sort(numbers.begin(), numbers.end());
        FUZZ_CHECK(numbers == passed);
      }
    }
    TFindQuery query;
    query.Text = "GET";
    FindRow(view, shown.Items(capture, view), -1, true, query, offsets);
  }

  // A conversation followed from the first and the last row of the TCP and UDP views refers
  // only to bytes its frames hold, and counts them.
  for (const int32_t view : {viTCP, viUDP}) {
    const TPacketList items = capture.Items(view);
    if (items.size() == 0) continue;
    for (const size_t r : {size_t(0), items.size() - 1}) {
      const auto conversation = FollowConversation(capture, items[r]);
      if (!conversation) continue;
      std::array<uint64_t, 2> bytes{}, missing{};
      for (const TConversationChunk& chunk : conversation->Chunks) {
        FUZZ_CHECK(chunk.Side < 2);
        if (chunk.Gap) {
          missing[chunk.Side] += chunk.Length;
          continue;
        }
        FUZZ_CHECK(ChunkBytes(capture.Store(), chunk).size() == chunk.Length);
        bytes[chunk.Side] += chunk.Length;
      }
      FUZZ_CHECK(bytes == conversation->Bytes && missing == conversation->Missing);
    }
  }
  return 0;
}
