// A pcapng file whose interfaces differ in link type and snapshot length.
#include <gtest/gtest.h>

#include <algorithm>
#include <cerrno>
#include <fstream>

#include "pipeline/CapturePipeline.h"
#include "pipeline/ShownRows.h"
#include "tests/common/Frames.h"

TEST(PcapngInterfaces, EachFrameHasItsInterfacesLinkTypeAndSnapshotAndBothFiltersPassItsKind) {
  std::string error;
  // A block in host order, as the magic says: type, length, words, `t` cut to `n` and padded,
  // length. A simple block holds its frame up to the snapshot length.
  TempDir dir;
  const std::string path = dir.File("two.pcapng");
  std::ofstream out(path, std::ios::binary);
  const auto block = [&](uint32_t type, std::vector<uint32_t> w, Bytes t = {}, size_t n = 1 << 20) {
    t.resize((std::min(n, t.size()) + 3) & ~size_t(3));
    w.resize(w.size() + t.size() / 4);
    std::copy(t.begin(), t.end(), reinterpret_cast<uint8_t*>(w.data() + w.size()) - t.size());
    w.insert(w.begin(), {type, uint32_t(4 * w.size() + 12)});
    w.push_back(w[1]);
    out.write(reinterpret_cast<const char*>(w.data()), std::streamsize(4 * w.size()));
  };
  // A packet type before an Ethernet frame makes a Linux cooked header of its MACs and type.
  const auto cooked = [](Bytes f) { f.insert(f.begin(), 2, 0); return f; };
  // Section 1: Ethernet cut at 128, cooked at 80; enough frames that a display filter runs on
  // two threads. Section 2: cooked at 80 alone, then a packet block longer than that.
  block(0x0A0D0D0A, {0x1A2B3C4D, 1, ~0u, ~0u});
  block(1, {1, 128});
  block(1, {113, 80});
  constexpr uint32_t Repeats = 22000;
  for (uint32_t r = 0; r < Repeats; ++r) {
    block(6, {0, 0, r, 114, 114}, TcpFrame({}, Bytes(60)));
    block(6, {1, 0, r, 76, 76}, cooked(TcpFrame({}, Bytes(20))));
    block(3, {200}, UdpFrame(1, 2, Bytes(158)), 128);
  }
  block(0x0A0D0D0A, {0x1A2B3C4D, 1, ~0u, ~0u});
  block(1, {113, 80});
  block(3, {150}, cooked(TcpFrame({}, Bytes(94))), 80);
  block(6, {0, 0, 0, 90, 90}, cooked(TcpFrame({}, Bytes(34))));
  out.close();
  using TKind = std::vector<uint32_t>;  // link type, caplen, len; only the UDP frame is 200 long
  const TKind kinds[] = {{1, 114, 114}, {113, 76, 76}, {1, 128, 200}, {113, 80, 150}};
  const auto shown = [](const TPacketList& rows) {
    std::vector<TKind> seen;
    for (size_t r = 0; r < rows.size(); ++r)
      seen.push_back({uint32_t(rows[r].LinkType), rows[r].PktHdr.caplen, rows[r].PktHdr.len});
    return seen;
  };
  TCapturePipeline whole;
  whole.ReadFile(path, "", error);
  EXPECT_FALSE(whole.CanSaveAs(TCaptureFormat::Pcap));
  EXPECT_FALSE(whole.SaveTo(dir.File("two.pcap"), error));
  EXPECT_EQ(errno, EINVAL);
  for (const std::string filter : {"", "tcp", "ether host 00:a0:c9:14:c8:29"}) {
    SCOPED_TRACE(filter);
    std::vector<TKind> passing;  // an Ethernet address does not compile for cooked frames
    for (uint32_t n = 0; n <= 3 * Repeats; ++n) {
      const TKind& k = kinds[n < 3 * Repeats ? n % 3 : 3];
      if (filter.empty() || (filter == "tcp" ? k[2] != 200 : k[0] == 1)) passing.push_back(k);
    }
    TCapturePipeline capture;  // `filter` as the capture filter
    ASSERT_EQ(capture.ReadFile(path, filter, error), TCapturePipeline::TReadResult::Incomplete);
    EXPECT_EQ(error, "invalid packet capture length 90, bigger than snaplen of 80");
    EXPECT_EQ(capture.Store().Records()->LinkTypes(), (std::vector<int32_t>{1, 113}));
    EXPECT_EQ(std::pair(capture.LinkType(), capture.SnapLength()), std::pair(1, 128));
    EXPECT_EQ(shown(capture.Items(viETH)), passing);
    TShownViews views;  // and as the display filter
    ASSERT_TRUE(views.ApplyFilter(whole, filter, error)) << error;
    EXPECT_EQ(shown(views.Items(whole, viETH)), passing);
  }
}
