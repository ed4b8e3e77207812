// trellan-rows on capture files written by the test: the rows of every view as text, the
// payload pane's text, a row's conversation (--follow), and its errors.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <sys/wait.h>

#include "tests/common/Conversations.h"
#include "tests/common/Frames.h"

namespace {
struct Result {
  int status;
  std::string out;
};

Result Rows(const std::string& args) {
  const std::string command = std::string(TRELLAN_ROWS) + " " + args + " 2>&1";
  std::FILE* p = popen(command.c_str(), "r");
  Result r{0, {}};
  char buf[4096];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) r.out.append(buf, n);
  const int status = pclose(p);
  r.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return r;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  size_t start = 0;
  for (size_t nl; (nl = text.find('\n', start)) != std::string::npos; start = nl + 1)
    lines.push_back(text.substr(start, nl - start));
  return lines;
}

std::string Joined(const std::vector<std::string>& cells) {
  std::string s;
  for (size_t i = 0; i < cells.size(); ++i) s += (i ? "\t" : "") + cells[i];
  return s;
}

const std::vector<std::string> TcpCaptions = {
    "Index", "Time", "Capture", "Len", "DstMac", "SrcMac", "Protocol(x)", "VerLen(x)", "Service",
    "Len", "Ident", "FlagOff(x)", "TimeLive", "Protocol(x)", "Checksum(x)", "SrcIP", "DstIP",
    "Src Port", "Dst Port", "Seq(x)", "Ack(x)", "Off_Rsvd(x)", "Rsvd_Flags(x)", "Window",
    "Checksum(x)", "UrgPoint", "TCPOption", "TCPDataLen", "Data"};

std::string CaptureFile(const TempDir& dir) {
  std::vector<Record> r(3);
  TCPFields syn;
  syn.options = {0x02, 0x04, 0x05, 0xB4};
  r[0].frame = TcpFrame(syn, {});
  r[0].frame.resize(60);  // the minimum Ethernet frame: 2 bytes of padding
  TCPFields push;
  push.flags = 0x18;
  r[1].frame = TcpFrame(push, Text("a\tb\\c\r\nd"));
  r[2].frame = Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, Ip("10.0.0.1"), Ip("10.0.0.2")));
  const std::string file = dir.File("rows.cap");
  WritePcap(file, r);
  return file;
}
// The heading, gap and summary lines of --follow, without the stream's bytes.
std::vector<std::string> Markers(const std::string& text) {
  std::vector<std::string> markers;
  for (const std::string& line : Lines(text))
    for (const char* mark : {">>> ", "<<< ", "... ", "=== "})
      if (line.starts_with(mark)) markers.push_back(line);
  return markers;
}
}  // namespace

TEST(TrellanRows, PrintsEveryViewInTabOrderWithEveryColumn) {
  TempDir dir;
  const std::string file = CaptureFile(dir);
  const Result all = Rows(file);
  ASSERT_EQ(all.status, 0) << all.out;
  std::vector<std::string> headings;
  for (const auto& line : Lines(all.out))
    if (line.starts_with("# ")) headings.push_back(line);
  EXPECT_EQ(headings, (std::vector<std::string>{"# Ethernet", "# IP", "# ARP", "# ICMP", "# TCP",
                                                "# UDP", "# TCP Data", "# UDP Data"}));

  const Result tcp = Rows("--view TCP " + file);
  ASSERT_EQ(tcp.status, 0) << tcp.out;
  const auto lines = Lines(tcp.out);
  ASSERT_EQ(lines.size(), 4u) << tcp.out;
  EXPECT_EQ(lines[0], "# TCP");
  EXPECT_EQ(lines[1], Joined(TcpCaptions));
  EXPECT_EQ(lines[2],
            Joined({"1", "01:46:40:000120", "60", "60", "00A0C9-14C829", "021A2B-3C4D5E", "0800",
                    "45", "0", "44", "4660", "4000", "128", "06", "6744", "192.168.0.1",
                    "192.168.0.2", "1025", "80", "ABCD", "0000", "60", "02 SYN", "8192", "46B4",
                    "0", "MSS(1460)", "0", ""}));
  // Every column is there, and the payload's tab, backslash, CR and LF are escaped.
  const std::string& second = lines[3];
  EXPECT_EQ(std::count(second.begin(), second.end(), '\t'), 28);
  EXPECT_TRUE(second.starts_with("2\t")) << second;
  EXPECT_TRUE(second.ends_with("\t8\ta\\tb\\\\c\\r\\nd")) << second;

  const Result two = Rows("--view arp --view lvTCPData " + file);
  ASSERT_EQ(two.status, 0) << two.out;
  const auto twoLines = Lines(two.out);
  ASSERT_EQ(twoLines.size(), 6u) << two.out;
  EXPECT_EQ(twoLines[0], "# ARP");
  EXPECT_TRUE(twoLines[2].ends_with("\t1\t2048\t6\t4\t1\t021A2B-3C4D5E\t10.0.0.1\t000000-000000\t10.0.0.2"))
      << twoLines[2];
  EXPECT_EQ(twoLines[3], "# TCP Data");
  EXPECT_TRUE(twoLines[5].starts_with("2\t")) << twoLines[5];
}

TEST(TrellanRows, OffsetsFilterAndPayload) {
  TempDir dir;
  const std::string file = CaptureFile(dir);
  const Result offset = Rows("--view \"TCP Data\" --tcp-offset 4 " + file);
  ASSERT_EQ(offset.status, 0) << offset.out;
  EXPECT_TRUE(Lines(offset.out)[2].ends_with("\t8\tc\\r\\nd")) << offset.out;

  const Result filtered = Rows("--filter arp --view Ethernet " + file);
  ASSERT_EQ(filtered.status, 0) << filtered.out;
  ASSERT_EQ(Lines(filtered.out).size(), 3u) << filtered.out;
  EXPECT_TRUE(Lines(filtered.out)[2].starts_with("1\t")) << filtered.out;  // renumbered

  const Result text = Rows("--payload tcpdata:0 " + file);
  ASSERT_EQ(text.status, 0) << text.out;
  EXPECT_EQ(text.out, "a\tb\\c\nd\n");
  const Result hex = Rows("--payload TCP:1 --hex " + file);
  ASSERT_EQ(hex.status, 0) << hex.out;
  EXPECT_EQ(hex.out, "a.b\\c..d         [ 61  9 62 5C | 63  D  A 64 ]\n");
}

TEST(TrellanRows, ErrorsGoToStandardErrorWithAFailingStatus) {
  TempDir dir;
  const std::string file = CaptureFile(dir);
  const Result missing = Rows(dir.File("missing.cap"));
  EXPECT_NE(missing.status, 0);
  EXPECT_NE(missing.out.find("No such file"), std::string::npos) << missing.out;
  const Result filter = Rows("--filter 'tcp port' " + file);
  EXPECT_NE(filter.status, 0);
  EXPECT_NE(filter.out.find("syntax error"), std::string::npos) << filter.out;
  const Result view = Rows("--view Bogus " + file);
  EXPECT_EQ(view.status, 2);
  EXPECT_NE(view.out.find("no view named 'Bogus'"), std::string::npos) << view.out;
  const Result number = Rows("--tcp-offset 3x " + file);
  EXPECT_EQ(number.status, 2);
  EXPECT_NE(number.out.find("'3x' is not a valid integer value"), std::string::npos) << number.out;
  const Result row = Rows("--payload UDP:0 " + file);
  EXPECT_NE(row.status, 0);
  EXPECT_NE(row.out.find("has no row 0"), std::string::npos) << row.out;
  const Result none = Rows("");
  EXPECT_EQ(none.status, 2);
}

TEST(TrellanRowsFollow, PrintsBothSidesInOrderWithGapsAndTotals) {
  TempDir dir;
  const std::string file = dir.File("conversations.pcap");
  WritePcap(file, ConversationCapture());

  // Row 6 of TCP Data is the server's first answer (frame 10).
  const Result tcp = Rows("--follow \"TCP Data:6\" " + file);
  ASSERT_EQ(tcp.status, 0) << tcp.out;
  EXPECT_EQ(Markers(tcp.out),
            (std::vector<std::string>{
                ">>> 10.0.0.1:40000 -> 10.0.0.2:80 (frame 5, 200 bytes)",
                ">>> 10.0.0.1:40000 -> 10.0.0.2:80 (frame 7, 200 bytes)",
                ">>> 10.0.0.1:40000 -> 10.0.0.2:80 (frame 6, 200 bytes)",
                ">>> 10.0.0.1:40000 -> 10.0.0.2:80 (frame 8, 100 bytes)",
                "<<< 10.0.0.2:80 -> 10.0.0.1:40000 (frame 10, 300 bytes)",
                "... 300 bytes missing ...",
                "<<< 10.0.0.2:80 -> 10.0.0.1:40000 (frame 11, 300 bytes)",
                "<<< 10.0.0.2:80 -> 10.0.0.1:40000 (frame 13, 200 bytes)",
                "... 300 bytes missing ...",
                "=== 10.0.0.1:40000 -> 10.0.0.2:80: 700 bytes",
                "=== 10.0.0.2:80 -> 10.0.0.1:40000: 800 bytes, 600 missing"}));
  EXPECT_NE(tcp.out.find("(frame 5, 200 bytes)\n" + ClientStream(0, 200) + "\n>>> "),
            std::string::npos);

  const Result udp = Rows("--follow udp:1 " + file);
  ASSERT_EQ(udp.status, 0) << udp.out;
  EXPECT_EQ(udp.out,
            ">>> 10.0.0.1:5000 -> 10.0.0.2:53 (frame 15, 5 bytes)\nquery\n"
            "<<< 10.0.0.2:53 -> 10.0.0.1:5000 (frame 16, 6 bytes)\nanswer\n"
            ">>> 10.0.0.1:5000 -> 10.0.0.2:53 (frame 18, 60 bytes)\n" +
                std::string(60, 'q') +
                "\n... 40 bytes missing ...\n"
                "=== 10.0.0.1:5000 -> 10.0.0.2:53: 65 bytes, 40 missing\n"
                "=== 10.0.0.2:53 -> 10.0.0.1:5000: 6 bytes\n");
  const Result hex = Rows("--follow udp:0 --hex " + file);
  ASSERT_EQ(hex.status, 0) << hex.out;
  EXPECT_NE(hex.out.find("(frame 15, 5 bytes)\nquery          [ 71 75 65 72 | 79 ]\n<<< "),
            std::string::npos)
      << hex.out;

  const Result ethernet = Rows("--follow Ethernet:4 " + file);
  EXPECT_EQ(ethernet.status, 1);
  EXPECT_EQ(ethernet.out,
            "trellan-rows: --follow needs a row of the TCP, UDP, TCP Data or UDP Data view\n");
  const Result beyond = Rows("--follow tcp:20 " + file);
  EXPECT_EQ(beyond.status, 1);
  EXPECT_EQ(beyond.out, "trellan-rows: view TCP has no row 20\n");
  const Result cut = Rows("--follow tcp:16 " + file);
  EXPECT_EQ(cut.status, 1);
  EXPECT_EQ(cut.out, "trellan-rows: row 16 has no conversation: its ports were not captured\n");
  const Result noRow = Rows("--follow tcp " + file);
  EXPECT_EQ(noRow.status, 2);
  EXPECT_TRUE(noRow.out.starts_with("trellan-rows: --follow needs VIEW:ROW\n")) << noRow.out;
}
