// A capture file, as a damaged or hostile file brings it, read the way the window reads it:
// the capture reading it in place, filing into the eight views, every row of every view, and
// the payload pane (text and hex dump) of every row of the four views that have one. The
// frames must be exactly those libpcap's own reader delivers. This is the work every file
// gets, once a frame: it stays fast, so that the fuzzer tries many files. What the window does
// over a whole capture once it is read (refiling, the display filter, sorting by every column,
// find, Follow Stream) is capture_pipeline's.
//
// Input: as fuzz/CaptureInput.h says (the two data offsets, the decoding bit, the file).
#include <cstdint>
#include <string>

#include "fuzz/CaptureInput.h"
#include "pipeline/CapturePipeline.h"
#include "presentation/CellText.h"
#include "presentation/Filing.h"
#include "presentation/PacketLists.h"
#include "presentation/Views.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static CaptureReader p;
  const CaptureInput in(data, size);
  const std::string& path = p.File.Write(in.File);

  bool whole = false;
  const bool loaded = p.ReadWithLibpcap(path, whole);
  TCapturePipeline capture;
  capture.SetDecodeIPv6AndVLAN(in.Deep);
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

  // A frame filed into a view shows a full row there, and one position past the end shows
  // nothing.
  TRowText row;
  for (int32_t view = 0; view < ViewCount; ++view) {
    if (view != viETH) FUZZ_CHECK(inView[view] == capture.List(view).Count());
    const TPacketList items = capture.Items(view);
    const size_t columns = ViewColumnCount(view);
    for (int32_t r = 0; r < int32_t(items.size()); ++r) {
      ViewRowText(view, items, r, in.TCPOffset, in.UDPOffset, row);
      FUZZ_CHECK(row.Count() == columns);
      if (HasPayloadPane(view))
        CheckPayloadPane(view, items[size_t(r)],
                         PayloadOf(view) == TPayloadKind::TCP ? in.TCPOffset : in.UDPOffset);
    }
    ViewRowText(view, items, int32_t(items.size()), in.TCPOffset, in.UDPOffset, row);
    FUZZ_CHECK(row.Count() == 0);
  }
  return 0;
}
