// Which views a frame is filed into, and that each view's rows agree with the filing.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "presentation/CellText.h"
#include "presentation/Filing.h"
#include "presentation/PacketLists.h"
#include "presentation/Views.h"
#include "pipeline/CapturePipeline.h"
#include "tests/presentation/StoredFrames.h"

namespace {
TListSet Lists(std::initializer_list<int32_t> views) {
  TListSet set = 0;
  for (int32_t v : views) set |= ListBit(v);
  return set;
}
}  // namespace

TEST(Filing, FramesGoToTheirProtocolsViewsOnly) {
  IPv4Fields icmp, igmp;
  icmp.protocol = 1;
  igmp.protocol = 2;
  const Bytes inner = IPv4({}, TCP({}, 1, 2, Text("x")));
  const Bytes tagged = VlanTagged(5, inner);
  TCPFields ack;
  ack.flags = 0x10;

  const struct {
    const char* what;
    Bytes frame;
    uint32_t caplen;
    TListSet lists;
  } cases[] = {
      {"TCP with payload", TcpFrame({}, Text("GET /")), 0, Lists({viETH, viIP, viTCP, viTCPData})},
      {"bare acknowledgement", TcpFrame(ack, {}), 0, Lists({viETH, viIP, viTCP})},
      {"UDP with payload", UdpFrame(53, 1024, Text("q")), 0, Lists({viETH, viIP, viUDP, viUDPData})},
      {"UDP length 8", UdpFrame(53, 1024, {}), 0, Lists({viETH, viIP, viUDP})},
      {"ICMP", Ethernet(kMacA, kMacB, 0x0800, IPv4(icmp, Bytes(8, 0))), 0, Lists({viETH, viIP, viICMP})},
      {"IP protocol 2", Ethernet(kMacA, kMacB, 0x0800, IPv4(igmp, Bytes(8, 0))), 0, Lists({viETH, viIP})},
      {"ARP", Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, 1, 2)), 0, Lists({viETH, viARP})},
      {"IPv6", Ethernet(kMacA, kMacB, 0x86DD, Bytes(40, 0)), 0, Lists({viETH})},
      {"IPv4 behind a VLAN tag", Ethernet(kMacA, kMacB, 0x8100, tagged), 0, Lists({viETH})},
      {"cut before the EtherType", TcpFrame({}, Text("GET /")), 13, Lists({viETH})},
      {"cut before the TCP data offset", TcpFrame({}, Text("GET /")), 46, Lists({viETH, viIP, viTCP})},
  };
  Stored store;
  for (size_t i = 0; i < std::size(cases); ++i) {
    const auto& c = cases[i];
    const TFrame& frame = store.Add(c.frame, c.caplen);
    EXPECT_EQ(FrameLists(frame.Layers()), c.lists) << c.what;
    // A view shows a row for the frame exactly when the frame is filed into it.
    for (int32_t v = 0; v < ViewCount; ++v)
      EXPECT_EQ(!Row(v, store.Only(i)).empty(), (c.lists & ListBit(v)) != 0)
          << c.what << " view " << v;
  }
  // The IPv6 frame's Ethernet row names its EtherType.
  EXPECT_EQ(Row(viETH, store.Only(7))[6], "86DD");
}

TEST(Filing, RowsOutsideTheListAreEmpty) {
  Stored store;
  store.Add(TcpFrame({}, Text("GET /")));
  TRowText row;
  ViewRowText(viTCP, store.List(), 0, 0, 0, row);
  EXPECT_EQ(row.Count(), 29u);
  for (int32_t v = 0; v < ViewCount; ++v) {
    ViewRowText(v, store.List(), 1, 0, 0, row);
    EXPECT_EQ(row.Count(), 0u);
    ViewRowText(v, store.List(), -1, 0, 0, row);
    EXPECT_EQ(row.Count(), 0u);
  }
}

// The lists hold frame numbers, resolved through the store. A reader on another thread (the
// window, while a capture thread files) must only ever see entries that resolve to the frame
// that was filed, and after a Clear the numbers, which start again at 1, must resolve to the
// new frames, read from the capture's file, which starts again too.
TEST(Filing, ListsReadOnAnotherThreadWhileFramesArriveResolveToTheirFrames) {
  std::string error;
  TempDir dir;
  TCapturePipeline capture;
  ASSERT_TRUE(capture.StartLive(dir.File("temp.$$$"), 1, 65535, error)) << error;
  const Bytes tcp = TcpFrame({}, Text("GET /"));
  const Bytes udp = UdpFrame(53, 1024, Text("q"));
  const Bytes arp = Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, 1, 2));
  for (int round = 0; round < 2; ++round) {
    constexpr int frames = 200000;
    std::atomic<bool> done{false};
    std::thread writer([&] {
      for (int i = 0; i < frames; ++i) {
        const Bytes& f = i % 3 == 0 ? tcp : i % 3 == 1 ? udp : arp;
        PCAP_PKTHDR h{{round * frames + i, 0}, uint32_t(f.size()), uint32_t(f.size())};
        capture.Add(&h, f.data());
      }
      capture.Flush();
      done = true;
    });
    long checked = 0;
    bool wrong = false;
    while (!wrong) {
      const bool last = done.load();
      for (int32_t view : {viETH, viTCP, viUDP, viARP}) {
        const TPacketList items = capture.Items(view);
        // The newest entries are the ones being published right now.
        for (size_t r = items.size() > 64 ? items.size() - 64 : 0; r < items.size(); ++r) {
          const TFrame frame = items[r];
          const int32_t sec = frame.PktHdr.ts.tv_sec;
          const int kind = frame.Readable ? sec % frames % 3 : -1;
          wrong |= !frame.Readable || sec / frames != round || (view == viTCP && kind != 0) ||
                   (view == viUDP && kind != 1) || (view == viARP && kind != 2) ||
                   (view == viETH && frame.Index != int32_t(r) + 1);
          ++checked;
        }
      }
      if (last) break;
    }
    writer.join();
    EXPECT_FALSE(wrong) << "round " << round;
    EXPECT_GT(checked, 0);
    ASSERT_EQ(capture.List(viETH).Count(), frames);
    EXPECT_EQ(capture.List(viTCP).Count() + capture.List(viUDP).Count() +
                  capture.List(viARP).Count(),
              frames);
    const TPacketList all = capture.Items(viETH);
    EXPECT_EQ(all[0].PktHdr.ts.tv_sec, round * frames);
    EXPECT_EQ(all[frames - 1].PktHdr.ts.tv_sec, round * frames + frames - 1);
    capture.Clear();
    EXPECT_EQ(capture.Items(viETH).size(), 0u);
  }
}
