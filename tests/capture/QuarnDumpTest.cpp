// Writing frames to a capture file and reading them back.
#include <gtest/gtest.h>

#include <cstdio>
#include <pcap/pcap.h>

#include "capture/Quarn.h"
#include "capture/QuarnDump.h"
#include "tests/common/Frames.h"
#include "tests/common/TraceListener.h"

namespace {
struct DeadHandle {
  pcap_t* p = pcap_open_dead(DLT_EN10MB, 65535);
  ~DeadHandle() { pcap_close(p); }
};
}  // namespace

TEST(QuarnDump, WrittenFramesReadBackWithTheirTimesAndLengths) {
  TempDir dir;
  DeadHandle handle;
  TQuarnDump dump;
  const std::string file = dir.File("out.cap");
  ASSERT_TRUE(dump.Open(handle.p, file));
  EXPECT_TRUE(dump.Active());
  EXPECT_FALSE(dump.Open(handle.p, dir.File("other.cap")));  // the first stays open

  const Bytes frames[] = {TcpFrame({}, Text("one")), UdpFrame(9, 9, Text("two")),
                          TcpFrame({}, Bytes(1460, 'x'))};
  PCAP_PKTHDR headers[3] = {{{1000000000, 120}, 57, 57},
                            {{1000000001, 0}, 45, 45},
                            {{2000000000, 999999}, 68, 1514}};  // cut by a snap length
  for (int i = 0; i < 3; ++i) dump.Write(&headers[i], frames[i].data());
  EXPECT_TRUE(dump.Close());
  EXPECT_FALSE(dump.Close());
  dump.Write(&headers[0], frames[0].data());  // closed: nothing happens

  TQuarn q;
  std::vector<PCAP_PKTHDR> got;
  std::vector<Bytes> bytes;
  q.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
    got.push_back(*h);
    bytes.emplace_back(reinterpret_cast<const uint8_t*>(e),
                       reinterpret_cast<const uint8_t*>(e) + h->caplen);
  };
  ASSERT_TRUE(q.LoadFromFile(file));
  ASSERT_EQ(got.size(), 3u);
  for (int i = 0; i < 3; ++i) {
    EXPECT_EQ(got[size_t(i)].ts.tv_sec, headers[i].ts.tv_sec);
    EXPECT_EQ(got[size_t(i)].ts.tv_usec, headers[i].ts.tv_usec);
    EXPECT_EQ(got[size_t(i)].caplen, headers[i].caplen);
    EXPECT_EQ(got[size_t(i)].len, headers[i].len);
    EXPECT_EQ(bytes[size_t(i)], Bytes(frames[i].begin(), frames[i].begin() + headers[i].caplen));
  }

  if (std::system("command -v tcpdump >/dev/null 2>&1") == 0) {
    std::FILE* p = popen(("tcpdump -n -r " + file + " 2>/dev/null | wc -l").c_str(), "r");
    int lines = 0;
    ASSERT_EQ(std::fscanf(p, "%d", &lines), 1);
    pclose(p);
    EXPECT_EQ(lines, 3);
  }
}

TEST(QuarnDump, OpenFailuresAreReportedAndTraced) {
  TraceListener trace;
  TempDir dir;
  DeadHandle handle;
  TQuarnDump dump;
  EXPECT_FALSE(dump.Open(handle.p, ""));
  EXPECT_EQ(dump.LastError(), "Quarn Error: Invalid file name");
  EXPECT_FALSE(dump.Active());
  EXPECT_EQ(trace.TakeMessages(),
            std::vector<std::string>{"[Quarn] TQuarnDump.Open (Quarn Error: Invalid file name)"});

  EXPECT_FALSE(dump.Open(handle.p, dir.File("no/such/folder/out.cap")));
  EXPECT_NE(dump.LastError().find("No such file"), std::string::npos) << dump.LastError();
  EXPECT_EQ(trace.TakeMessages(),
            std::vector<std::string>{"[Quarn] TQuarnDump.Open (" + dump.LastError() + ")"});
  EXPECT_FALSE(dump.Active());

  // A refused second open keeps the first file and the last error as they were.
  ASSERT_TRUE(dump.Open(handle.p, dir.File("a.cap")));
  const std::string before = dump.LastError();
  EXPECT_FALSE(dump.Open(handle.p, ""));
  EXPECT_EQ(dump.LastError(), before);
  EXPECT_TRUE(trace.TakeMessages(100).empty());
  EXPECT_TRUE(dump.Close());
}
