// Frames cut short by the snap length and frames whose length fields lie: every row and
// every payload stays within the captured bytes. Each node sits in an allocation that ends
// at its last captured byte, so AddressSanitizer builds report any read past it.
#include <gtest/gtest.h>

#include <climits>

#include "presentation/CellText.h"
#include "presentation/Filing.h"
#include "presentation/PayloadText.h"
#include "presentation/Views.h"
#include "tests/presentation/StoredFrames.h"

namespace {
Bytes Letters(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = uint8_t('A' + i % 26);
  return b;
}
std::string Dump(const uint8_t* p, size_t n) { return HexDumpLines(p, n); }
std::string StoredChecksum(const Bytes& frame, size_t at) {
  std::string text;
  HexText(uint32_t(frame[at] << 8 | frame[at + 1]), 4, text);
  return text;
}
}  // namespace

TEST(Bounds, SnapLengthCutsDataAndChecksums) {
  const Bytes tcp = TcpFrame({}, Letters(100));
  const ExactNode t(tcp, 68);
  auto cells = Row(viTCPData, t.List());
  ASSERT_EQ(cells.size(), 29u);
  EXPECT_EQ(cells[2], "68");
  EXPECT_EQ(cells[3], "154");
  EXPECT_EQ(cells[14], "66E4") << "the IP header was captured whole";
  EXPECT_EQ(cells[24], StoredChecksum(tcp, 50)) << "no verdict over a segment not captured";
  EXPECT_EQ(cells[27], "100");
  EXPECT_EQ(cells[28], "ABCDEFGHIJKLMN");  // the 14 bytes from 54 to 68
  EXPECT_EQ(PayloadText(viTCPData, t.Node(), 0, false), "ABCDEFGHIJKLMN");
  EXPECT_EQ(PayloadText(viTCPData, t.Node(), 10, true), "KLMN          [ 4B 4C 4D 4E ]");

  const Bytes udp = UdpFrame(53, 1024, Letters(100));
  const ExactNode u(udp, 68);
  cells = Row(viUDPData, u.List());
  ASSERT_EQ(cells.size(), 23u);
  EXPECT_EQ(cells[20], StoredChecksum(udp, 40));
  EXPECT_EQ(cells[21], "100");
  EXPECT_EQ(cells[22], "ABCDEFGHIJKLMNOPQRSTUVWXYZ");  // 26 bytes from 42

  // A frame cut inside the TCP header shows what was captured and empty cells for the rest.
  const ExactNode cut(TcpFrame({}, Text("GET /")), 40);
  cells = Row(viTCP, cut.List());
  ASSERT_EQ(cells.size(), 29u);
  EXPECT_EQ(cells[16], "192.168.0.2");
  EXPECT_EQ(cells[17], "1025");
  EXPECT_EQ(cells[18], "80");
  for (size_t i = 19; i < 29; ++i) EXPECT_EQ(cells[i], "") << "column " << i;

  // Nothing captured at all.
  const ExactNode none(tcp, 0);
  EXPECT_EQ(Row(viETH, none.List()),
            (std::vector<std::string>{"1", "01:46:40:000120", "0", "154", "", "", ""}));
  EXPECT_EQ(FrameLists(none.Node().Layers()), ListBit(viETH));
}

TEST(Bounds, LyingLengthFieldsStopAtTheCapture) {
  IPv4Fields huge;
  huge.totalLengthDelta = 65535 - 50;  // IP total length 65535 on a 64-byte frame
  const Bytes longIp = TcpFrame({}, Text("HELLOWORLD"), huge);
  const ExactNode a(longIp, longIp.size());
  auto cells = Row(viTCPData, a.List());
  ASSERT_EQ(cells.size(), 29u);
  EXPECT_EQ(cells[9], "65535");
  EXPECT_EQ(cells[24], StoredChecksum(longIp, 50));
  EXPECT_EQ(cells[27], "65495");
  EXPECT_EQ(cells[28], "HELLOWORLD");
  EXPECT_EQ(PayloadText(viTCP, a.Node(), 0, false), "HELLOWORLD");

  Bytes longUdp = UdpFrame(53, 1024, Text("HELLOWORLD"));
  longUdp[38] = longUdp[39] = 0xFF;
  const ExactNode b(longUdp, longUdp.size());
  cells = Row(viUDP, b.List());
  EXPECT_EQ(cells[19], "65535");
  EXPECT_EQ(cells[20], StoredChecksum(longUdp, 40));
  EXPECT_EQ(cells[21], "10");
  EXPECT_EQ(PayloadText(viUDP, b.Node(), 0, false), "HELLOWORLD");

  // A data offset of 15 claims 40 option bytes where the payload lies.
  Bytes wideTcp = TcpFrame({}, Text("HELLOWORLD"));
  wideTcp[46] = 0xF0;
  const ExactNode c(wideTcp, wideTcp.size());
  cells = Row(viTCP, c.List());
  EXPECT_EQ(cells[26], "");  // 'H' is no option kind
  EXPECT_EQ(cells[27], "-30");
  EXPECT_EQ(cells[28], "");
  EXPECT_TRUE(Row(viTCPData, c.List()).empty());
  EXPECT_EQ(PayloadText(viTCP, c.Node(), 0, true), "");
}

TEST(Bounds, NegativeDataOffsetStartsNoEarlierThanTheFrame) {
  const Bytes frame = TcpFrame({}, Text("HELLOWORLD"));
  const ExactNode n(frame, frame.size());
  // Four bytes before the payload: the checksum and the urgent pointer.
  EXPECT_EQ(PayloadText(viTCP, n.Node(), -4, true), Dump(frame.data() + 50, 14));
  EXPECT_EQ(PayloadText(viTCP, n.Node(), -1000, true), Dump(frame.data(), frame.size()));
  EXPECT_EQ(PayloadText(viTCP, n.Node(), INT32_MIN, true), Dump(frame.data(), frame.size()));
  // The Data column takes the same bytes; the frame's first byte is zero, so its text ends
  // there at once.
  EXPECT_EQ(Row(viTCP, n.List(), -1000)[28], "");
  EXPECT_EQ(Row(viTCP, n.List(), -2)[28], "");  // the urgent pointer is 0
  EXPECT_EQ(Row(viTCP, n.List(), INT32_MAX)[28], "");
}

TEST(Bounds, EveryViewAndPayloadAtEveryCaptureLength) {
  TCPFields options;
  options.options = {0x02, 0x04, 0x05, 0xB4, 0x01, 0x03, 0x03, 0x07, 0x05, 0x0A, 0, 0};
  IPv4Fields icmp, lying;
  icmp.protocol = 1;
  lying.totalLengthDelta = 4000;
  Bytes longUdp = UdpFrame(53, 1024, Letters(30));
  longUdp[38] = longUdp[39] = 0xFF;
  Bytes wideTcp = TcpFrame(options, Letters(3));
  wideTcp[46] = 0xF0;
  Bytes noOffset = TcpFrame({}, Letters(20));
  noOffset[46] = 0x00;
  const Bytes frames[] = {
      TcpFrame(options, Letters(100)),
      UdpFrame(53, 1024, Letters(50)),
      Ethernet(kMacA, kMacB, 0x0800, IPv4(icmp, Letters(40))),
      Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, 1, 2)),
      TcpFrame({}, Letters(10), lying),
      longUdp,
      wideTcp,
      noOffset,
  };
  const int32_t offsets[] = {INT32_MIN, -1000, -1, 0, 4, 1000, INT32_MAX};
  const int32_t columns[] = {7, 17, 16, 21, 29, 23, 29, 23};
  TRowText row;
  for (const Bytes& frame : frames) {
    for (size_t caplen = 0; caplen <= frame.size(); ++caplen) {
      const ExactNode n(frame, caplen);
      for (int32_t v = 0; v < ViewCount; ++v) {
        for (int32_t offset : offsets) {
          ViewRowText(v, n.List(), 0, offset, offset, row);
          if (row.Count()) {
            EXPECT_EQ(int32_t(row.Count()), columns[v]);
          }
          EXPECT_LE(PayloadText(v, n.Node(), offset, false).size(), caplen);
          PayloadText(v, n.Node(), offset, true);
        }
      }
    }
  }
}
