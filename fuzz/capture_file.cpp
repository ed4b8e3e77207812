// A capture file, as a damaged or hostile file brings it, through the whole path a file takes
// in the window: the capture reading it in place, filing into the eight views, every row of
// every view, and the payload pane (text and hex dump) of every row of the four views that
// have one. The frames must be exactly those libpcap's own reader delivers.
//
// Input: the TCP data offset (4 bytes, little-endian), the UDP data offset (4 bytes), then
// the file's bytes.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <vector>

#include <pcap/pcap.h>

#include "capture/Quarn.h"
#include "pipeline/CapturePipeline.h"
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
  const int32_t udpOffset = in.Int32();
  const std::string& path = p.File.Write(in.Rest());

  bool whole = false;
  const bool loaded = p.ReadWithLibpcap(path, whole);
  TCapturePipeline capture;
  const auto read = capture.ReadFile(p.Quarn, path);
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
    const TListSet lists = FrameLists(frame.Frame(), frame.DataEnd());
    for (int32_t view = viIP; view < ViewCount; ++view) {
      if (!(lists & ListBit(view))) continue;
      const TPacketList items = capture.Items(view);
      FUZZ_CHECK(size_t(inView[view]) < items.size() && items[size_t(inView[view])].Index == n);
      ++inView[view];
    }
  }

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
                         view == viTCP || view == viTCPData ? tcpOffset : udpOffset);
    }
    ViewRowText(view, items, int32_t(items.size()), tcpOffset, udpOffset, row);
    FUZZ_CHECK(row.Count() == 0);
  }
  return 0;
}
