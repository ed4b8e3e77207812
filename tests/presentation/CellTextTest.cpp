// The texts of the TCP, UDP, ARP and ICMP rows, field by field, from real frames.
#include <gtest/gtest.h>

#include "presentation/CellText.h"
#include "presentation/Views.h"
#include "tests/presentation/StoredFrames.h"

namespace {
// Column positions in the TCP and UDP views.
constexpr size_t IPChecksumColumn = 14;
constexpr size_t TCPFlagsColumn = 22, TCPChecksumColumn = 24;
constexpr size_t UDPLenColumn = 19, UDPChecksumColumn = 20, UDPDataLenColumn = 21;

Bytes Padded(Bytes frame) {
  if (frame.size() < 60) frame.resize(60, 0);  // Ethernet's minimum frame size
  return frame;
}
Bytes WithFlags(uint8_t flags) {
  TCPFields f;
  f.flags = flags;
  return TcpFrame(f, {});
}
}  // namespace

TEST(CellText, CompleteTCPRow) {
  TCPFields f;
  f.options = {0x02, 0x04, 0x05, 0xB4};
  Stored store;
  store.Add(Padded(TcpFrame(f, {})));
  const std::vector<std::string> expected = {
      "1",           "01:46:40:000120", "60",     "60",   "00A0C9-14C829", "021A2B-3C4D5E",
      "0800",        "45",              "0",      "44",   "4660",          "4000",
      "128",         "06",              "6744",   "192.168.0.1",           "192.168.0.2",
      "1025",        "80",              "ABCD",   "0000", "60",            "02 SYN",
      "8192",        "46B4",            "0",      "MSS(1460)",             "0",
      ""};
  EXPECT_EQ(Row(viTCP, store.List()), expected);
  // The same segment has no payload, so the TCP Data view has no row for it.
  EXPECT_TRUE(Row(viTCPData, store.List()).empty());
}

TEST(CellText, TimeOfDayInUTC) {
  std::string text;
  TimeText(1000000000, 120, text);
  EXPECT_EQ(text, "01:46:40:000120");
  text.clear();
  TimeText(9 * 3600 + 5 * 60 + 3 + 86400 * 20000, 120, text);
  EXPECT_EQ(text, "09:05:03:000120");
  text.clear();
  TimeText(86399, 999999, text);
  EXPECT_EQ(text, "23:59:59:999999");
}

TEST(CellText, ChecksumsShowTheComputedValueWhenTheyDiffer) {
  std::string text;
  ChecksumText(0xB1E6, 0xB1E6, text);
  EXPECT_EQ(text, "B1E6");
  text.clear();
  ChecksumText(0xB1E6, 0xB1E7, text);
  EXPECT_EQ(text, "B1E6(B1E7)");

  Stored store;
  // A damaged IP checksum: stored 6745, the header sums to 6744.
  TCPFields f;
  f.options = {0x02, 0x04, 0x05, 0xB4};
  Bytes ip = TcpFrame(f, {});
  ip[25] = 0x45;
  store.Add(ip);
  // A segment whose payload changed after its checksum was made: the computed value is the
  // one a correct sender would have stored for the new payload.
  Bytes changed = TcpFrame({}, Text("HELLO"));
  const Bytes correct = TcpFrame({}, Text("HELLP"));
  changed[58] = 'P';
  store.Add(changed);
  // UDP sent without a checksum stores 0; the computed value is that of a correct sender.
  store.Add(UdpFrame(53, 1024, Text("ABC")));
  IPv4Fields udp;
  udp.protocol = 17;
  store.Add(Ethernet(kMacA, kMacB, 0x0800,
                     IPv4(udp, UDP(53, 1024, udp.src, udp.dst, Text("ABC"), false))));

  TRowText row;
  ViewRowText(viTCP, store.List(), 0, 0, 0, row);
  EXPECT_EQ(row[IPChecksumColumn], "6745(6744)");
  ViewRowText(viTCP, store.List(), 1, 0, 0, row);
  char want[16];
  std::snprintf(want, sizeof want, "%02X%02X(%02X%02X)", changed[50], changed[51], correct[50],
                correct[51]);
  EXPECT_EQ(row[TCPChecksumColumn], want);
  ViewRowText(viUDP, store.List(), 2, 0, 0, row);
  const std::string good = row[UDPChecksumColumn];
  EXPECT_EQ(good.size(), 4u);
  ViewRowText(viUDP, store.List(), 3, 0, 0, row);
  EXPECT_EQ(row[UDPChecksumColumn], "0000(" + good + ")");
}

TEST(CellText, FlagNamesFollowTheHexByte) {
  Stored store;
  for (uint8_t flags : {0x12, 0x00, 0xC2, 0x3F}) store.Add(WithFlags(flags));
  TRowText row;
  const char* expected[] = {"12 ACK SYN", "00", "C2 SYN", "3F URG ACK PSH RST SYN FIN"};
  for (int32_t i = 0; i < 4; ++i) {
    ViewRowText(viTCP, store.List(), i, 0, 0, row);
    EXPECT_EQ(row[TCPFlagsColumn], expected[i]);
  }
}

TEST(CellText, DataColumnSkipsTheOffset) {
  Stored store;
  store.Add(TcpFrame({}, Text("HELLOWORLD")));
  const auto payload = [&](int32_t offset) {
    const auto cells = Row(viTCPData, store.List(), offset);
    return cells.size() == 29 ? cells[27] + "|" + cells[28] : std::string("no row");
  };
  EXPECT_EQ(payload(0), "10|HELLOWORLD");
  EXPECT_EQ(payload(4), "10|OWORLD");
  EXPECT_EQ(payload(10), "10|");
  EXPECT_EQ(payload(11), "10|");
}

TEST(CellText, UDPLengthIsLimitedByTheIPDatagram) {
  Bytes frame = UdpFrame(53, 1024, Text("HELLOWORLD"));
  frame[38] = 0;  // UDP length 100 in a 38-byte IP datagram
  frame[39] = 100;
  Stored store;
  store.Add(Padded(frame));  // the padding is captured but is not UDP payload
  const auto cells = Row(viUDP, store.List());
  ASSERT_EQ(cells.size(), 23u);
  EXPECT_EQ(cells[UDPLenColumn], "100");
  EXPECT_EQ(cells[UDPDataLenColumn], "10");
  EXPECT_EQ(cells[22], "HELLOWORLD");
}

TEST(CellText, ARPAndICMPRows) {
  Stored store;
  store.Add(Padded(Ethernet(kMacA, kMacB, 0x0806,
                            ARPRequest(kMacB, Ip("10.0.0.1"), Ip("10.0.0.2")))));
  IPv4Fields icmp;
  icmp.protocol = 1;
  store.Add(Padded(Ethernet(kMacA, kMacB, 0x0800, IPv4(icmp, {0x08, 0x00, 0xF7, 0xFF, 0, 0, 0, 0}))));
  TRowText row;
  ViewRowText(viARP, store.List(), 0, 0, 0, row);
  const std::vector<std::string> arp(row.begin() + 7, row.end());
  EXPECT_EQ(arp, (std::vector<std::string>{"1", "2048", "6", "4", "1", "021A2B-3C4D5E", "10.0.0.1",
                                           "000000-000000", "10.0.0.2"}));
  // An echo request: type 8, code 0, the checksum as stored, and an empty Data cell.
  ViewRowText(viICMP, store.List(), 1, 0, 0, row);
  const std::vector<std::string> echo(row.begin() + 17, row.end());
  EXPECT_EQ(echo, (std::vector<std::string>{"8", "0", "F7FF", ""}));
}
