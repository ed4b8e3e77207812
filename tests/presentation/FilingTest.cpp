// Which views a frame is filed into, and that each view's rows agree with the filing.
#include <gtest/gtest.h>

#include "presentation/Common.h"
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
  for (const auto& c : cases) {
    const TQuarnNode* node = store.Add(c.frame, c.caplen);
    EXPECT_EQ(FrameLists(node->Frame(), node->DataEnd()), c.lists) << c.what;
    // A view shows a row for the frame exactly when the frame is filed into it.
    const std::vector<const TQuarnNode*> alone = {node};
    for (int32_t v = 0; v < ViewCount; ++v)
      EXPECT_EQ(!Row(v, alone).empty(), (c.lists & ListBit(v)) != 0) << c.what << " view " << v;
  }
  // The IPv6 frame's Ethernet row names its EtherType.
  EXPECT_EQ(Row(viETH, std::vector<const TQuarnNode*>{store.List()[7]})[6], "86DD");
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
