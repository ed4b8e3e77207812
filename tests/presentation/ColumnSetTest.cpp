// The columns of the eight views: captions, order, default widths and what shows at first.
#include <gtest/gtest.h>

#include "presentation/CellText.h"
#include "presentation/Views.h"
#include "tests/presentation/StoredFrames.h"

namespace {
struct Views {
  Views() {
    std::array<TColumnList*, ViewCount> lists;
    for (int32_t v = 0; v < ViewCount; ++v) lists[size_t(v)] = &columns[size_t(v)];
    BuildViews(lists);
  }
  std::vector<std::string> Captions(int32_t view, bool visibleOnly) const {
    std::vector<std::string> captions;
    const TColumnArray& c = columns[size_t(view)];
    for (int32_t i = 0; i < c.ColumnCount(); ++i)
      if (!visibleOnly || c.Width(i) != 0) captions.push_back(c.Caption(i));
    return captions;
  }
  std::array<TColumnArray, ViewCount> columns;
};

using Names = std::vector<std::string>;
}  // namespace

TEST(ColumnSet, EachViewHasItsColumnsInOrder) {
  const Views views;
  const int32_t counts[] = {7, 17, 16, 21, 29, 23, 29, 23};
  for (int32_t v = 0; v < ViewCount; ++v)
    EXPECT_EQ(views.columns[size_t(v)].ColumnCount(), counts[v]) << ViewSpecs[size_t(v)].Name;
  const Names tcp = {"Index",      "Time",        "Capture",       "Len",       "DstMac",
                     "SrcMac",     "Protocol(x)", "VerLen(x)",     "Service",   "Len",
                     "Ident",      "FlagOff(x)",  "TimeLive",      "Protocol(x)", "Checksum(x)",
                     "SrcIP",      "DstIP",       "Src Port",      "Dst Port",  "Seq(x)",
                     "Ack(x)",     "Off_Rsvd(x)", "Rsvd_Flags(x)", "Window",    "Checksum(x)",
                     "UrgPoint",   "TCPOption",   "TCPDataLen",    "Data"};
  EXPECT_EQ(views.Captions(viTCP, false), tcp);
  EXPECT_EQ(views.Captions(viTCPData, false), tcp);

  const char* names[] = {"lvETH", "lvIP", "lvARP", "lvICMP", "lvTCP", "lvUDP", "lvTCPData", "lvUDPData"};
  const char* captions[] = {"Ethernet", "IP", "ARP", "ICMP", "TCP", "UDP", "TCP Data", "UDP Data"};
  const char* hints[] = {"Ethernet", "IP", "ARP", "ICMP", "TCP", "UDP", "TCPData", "UDPData"};
  for (int32_t v = 0; v < ViewCount; ++v) {
    EXPECT_STREQ(ViewSpecs[size_t(v)].Name, names[v]);
    EXPECT_STREQ(ViewSpecs[size_t(v)].Caption, captions[v]);
    EXPECT_STREQ(ViewSpecs[size_t(v)].Hint, hints[v]);
  }
  // A group number outside 1 to 9 adds nothing.
  TColumnArray none;
  AddColumnGroup(none, 6, 0);
  AddColumnGroup(none, 6, 10);
  EXPECT_EQ(none.ColumnCount(), 0);
}

TEST(ColumnSet, FirstStartShowsEachViewsOwnFields) {
  const Views views;
  EXPECT_EQ(views.Captions(viETH, true),
            (Names{"Index", "Time", "Capture", "Len", "DstMac", "SrcMac", "Protocol(x)"}));
  EXPECT_EQ(views.Captions(viIP, true),
            (Names{"Index", "Time", "Capture", "Len", "VerLen(x)", "Service", "Len", "Ident",
                   "FlagOff(x)", "TimeLive", "Protocol(x)", "Checksum(x)", "SrcIP", "DstIP"}));
  EXPECT_EQ(views.Captions(viARP, true),
            (Names{"Index", "Time", "Capture", "Len", "HardwareType", "ProtocolType", "HLen",
                   "PLen", "Operation", "SenderHA", "SenderIP", "TargetHA", "TargetIP"}));
  EXPECT_EQ(views.Captions(viICMP, true),
            (Names{"Index", "Time", "Capture", "Len", "SrcIP", "DstIP", "Type", "Code",
                   "Checksum(x)", "Data"}));
  EXPECT_EQ(views.Captions(viTCP, true),
            (Names{"Index", "Time", "Capture", "Len", "SrcIP", "DstIP", "Src Port", "Dst Port",
                   "Seq(x)", "Ack(x)", "Off_Rsvd(x)", "Rsvd_Flags(x)", "Window", "Checksum(x)",
                   "UrgPoint", "TCPOption", "TCPDataLen", "Data"}));
  EXPECT_EQ(views.Captions(viUDP, true),
            (Names{"Index", "Time", "Capture", "Len", "SrcIP", "DstIP", "Src Port", "Dst Port",
                   "Len", "Checksum(x)", "UDPDataLen", "Data"}));
  EXPECT_EQ(views.Captions(viTCPData, true),
            (Names{"Index", "SrcIP", "DstIP", "Src Port", "Dst Port", "TCPDataLen", "Data"}));
  EXPECT_EQ(views.Captions(viUDPData, true),
            (Names{"Index", "SrcIP", "DstIP", "Src Port", "Dst Port", "UDPDataLen", "Data"}));

  // Hidden columns keep the width they come back at; the payload Data columns differ.
  const TColumnArray& ip = views.columns[viIP];
  EXPECT_EQ(ip.Width(4), 0);
  EXPECT_EQ(ip.DefaultWidth(4), 100);  // DstMac
  const TColumnArray& tcpData = views.columns[viTCPData];
  EXPECT_EQ(tcpData.Width(1), 0);
  EXPECT_EQ(tcpData.DefaultWidth(1), 100);  // Time
  EXPECT_EQ(tcpData.DefaultWidth(19), 100);  // Seq(x)
  EXPECT_EQ(tcpData.Width(28), 100);
  EXPECT_EQ(views.columns[viUDPData].Width(22), 50);
  EXPECT_EQ(views.columns[viUDP].Width(22), 50);
}

TEST(ColumnSet, EveryRowFillsEveryColumn) {
  const Views views;
  Stored store;
  store.Add(Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, Ip("10.0.0.1"), Ip("10.0.0.2"))));
  IPv4Fields icmp;
  icmp.protocol = 1;
  store.Add(Ethernet(kMacA, kMacB, 0x0800, IPv4(icmp, {8, 0, 0xF7, 0xFF, 0, 0, 0, 0})));
  store.Add(TcpFrame({}, Text("GET /")));
  store.Add(UdpFrame(53, 1024, Text("query")));
  TRowText row;
  for (int32_t v = 0; v < ViewCount; ++v) {
    size_t rows = 0;
    for (int32_t i = 0; i < int32_t(store.List().size()); ++i) {
      ViewRowText(v, store.List(), i, 0, 0, row);
      if (row.Count() == 0) continue;
      ++rows;
      EXPECT_EQ(int32_t(row.Count()), views.columns[size_t(v)].ColumnCount()) << ViewSpecs[size_t(v)].Name;
    }
    EXPECT_GE(rows, 1u) << ViewSpecs[size_t(v)].Name;
  }
}
