// The payload pane: which bytes it shows, as text and as a hex dump.
#include <gtest/gtest.h>

#include "presentation/PayloadText.h"
#include "presentation/Views.h"
#include "tests/presentation/StoredFrames.h"

namespace {
std::string Dump(const Bytes& bytes) { return HexDumpLines(bytes.data(), bytes.size()); }
}  // namespace

TEST(Payload, HexDumpLines) {
  EXPECT_EQ(Dump(Text("USER anonymous\r\n")),
            "USER anonymous.. [ 55 53 45 52 | 20 61 6E 6F | 6E 79 6D 6F | 75 73  D  A ]");
  EXPECT_EQ(Dump(Text("abc")), "abc          [ 61 62 63 ]");
  EXPECT_EQ(Dump({0x0D, 0x0A}), "..          [  D  A ]");
  EXPECT_EQ(Dump(Text("0123456789ABCDEF")),
            "0123456789ABCDEF [ 30 31 32 33 | 34 35 36 37 | 38 39 41 42 | 43 44 45 46 ]");
  EXPECT_EQ(Dump(Text("0123456789ABCDEFG")),
            "0123456789ABCDEF [ 30 31 32 33 | 34 35 36 37 | 38 39 41 42 | 43 44 45 46 ]\n"
            "G          [ 47 ]");
  // 1F and 7F show as themselves, 1E and 80 as dots; seven bytes fill the 16 columns.
  EXPECT_EQ(Dump({0x1E, 0x1F, 0x7F, 0x80, 0x20, 0x7E, 0x00}),
            ".\x1F\x7F. ~.          [ 1E 1F 7F 80 | 20 7E  0 ]");
  EXPECT_EQ(Dump({}), "");
}

TEST(Payload, TextAndDumpOfTheSelectedRow) {
  Stored store;
  const TFrame& crlf = store.Add(TcpFrame({}, {0x0D, 0x0A}));
  EXPECT_EQ(PayloadText(viTCP, crlf, 0, false), "\r\n");
  EXPECT_EQ(PayloadText(viTCPData, crlf, 0, true), "..          [  D  A ]");

  // Text stops at a zero byte; the dump shows every byte.
  const TFrame& zero = store.Add(UdpFrame(53, 1024, {'A', 'B', 0, 'C', 'D'}));
  EXPECT_EQ(PayloadText(viUDP, zero, 0, false), "AB");
  EXPECT_EQ(PayloadText(viUDPData, zero, 0, true), "AB.CD          [ 41 42  0 43 | 44 ]");

  // The data offset skips leading bytes; one that consumes the payload clears the pane.
  const TFrame& hello = store.Add(UdpFrame(53, 1024, Text("HELLOWORLD")));
  EXPECT_EQ(PayloadText(viUDP, hello, 4, false), "OWORLD");
  EXPECT_EQ(PayloadText(viUDP, hello, 10, false), "");
  EXPECT_EQ(PayloadText(viUDP, hello, 10, true), "");
  // Views without a pane, and a frame of another protocol, give nothing.
  EXPECT_EQ(PayloadText(viIP, hello, 0, false), "");
  EXPECT_EQ(PayloadText(viTCP, hello, 0, false), "");
}

TEST(Payload, PaneFollowsTheUDPLengthWhereTheColumnStopsAtTheDatagram) {
  // Captured bytes after the IP datagram that the UDP length claims: the Data column stops
  // at the datagram's end, the pane shows what the UDP header says.
  Bytes frame = UdpFrame(53, 1024, Text("HELLOWORLD"));
  frame[39] = 8 + 16;
  const Bytes trailer = Text("XYZXYZ");
  frame.insert(frame.end(), trailer.begin(), trailer.end());
  Stored store;
  const TFrame& node = store.Add(frame);
  EXPECT_EQ(Row(viUDP, store.List())[22], "HELLOWORLD");
  EXPECT_EQ(PayloadText(viUDP, node, 0, false), "HELLOWORLDXYZXYZ");
}
