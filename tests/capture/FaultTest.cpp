// Damaged capture files and sources that go away: frames before the damage arrive, the error
// is told, and nothing else happens.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <fstream>
#include <sstream>
#include <thread>

#include "capture/Quarn.h"
#include "capture/QuarnThread.h"
#include "tests/common/Frames.h"
#include "tests/common/Loopback.h"
#include "tests/common/Rpcapd.h"
#include "tests/common/TraceListener.h"

namespace {
std::string Bytes_(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream s;
  s << in.rdbuf();
  return s.str();
}

struct Counted {
  TQuarn quarn;
  std::vector<uint32_t> caplens;
  Counted() {
    quarn.OnCapture = [this](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR*) {
      caplens.push_back(h->caplen);
    };
  }
};
}  // namespace

TEST(Faults, AFileCutAtEveryByteDeliversTheFramesBeforeTheCut) {
  TempDir dir;
  std::vector<Record> records(3);
  records[0].frame = TcpFrame({}, Text("one"));
  records[1].frame = UdpFrame(1, 2, Text("two!"));
  records[2].frame = Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, 1, 2));
  for (const char* kind : {"pcap", "pcapng"}) {
    const std::string whole = dir.File(std::string("whole.") + kind);
    if (std::string(kind) == "pcap") WritePcap(whole, records);
    else WritePcapng(whole, records);
    const std::string bytes = Bytes_(whole);
    // Where each record ends: a cut at or after it keeps the record.
    Counted full;
    ASSERT_TRUE(full.quarn.LoadFromFile(whole));
    ASSERT_EQ(full.caplens.size(), 3u);
    for (size_t cut = 0; cut < bytes.size(); ++cut) {
      const std::string part = dir.File("cut");
      std::ofstream(part, std::ios::binary | std::ios::trunc).write(bytes.data(), std::streamsize(cut));
      Counted c;
      const bool opened = c.quarn.LoadFromFile(part);
      EXPECT_FALSE(c.quarn.Active());
      // Every frame that arrives is whole and in order.
      ASSERT_LE(c.caplens.size(), 3u);
      for (size_t i = 0; i < c.caplens.size(); ++i) EXPECT_EQ(c.caplens[i], full.caplens[i]);
      if (!opened) {
        EXPECT_TRUE(c.caplens.empty());  // a file that cannot even be opened gives no frame
        EXPECT_NE(c.quarn.LastError(), "");
      } else if (c.caplens.size() < 3 && !c.quarn.LastError().empty()) {
        EXPECT_EQ(c.quarn.LastError(), "Quarn Error: pcap_next_ex return -1") << kind << " cut " << cut;
      }
    }
  }
}

TEST(Faults, ARecordClaimingGigabytesIsAReadError) {
  TempDir dir;
  std::vector<Record> records(2);
  records[0].frame = UdpFrame(1, 2, Text("fine"));
  records[1].frame = UdpFrame(1, 2, Text("lying"));
  const std::string file = dir.File("lying.cap");
  WritePcap(file, records);
  // Make the second record's captured length claim 3 GB.
  std::string bytes = Bytes_(file);
  const size_t second = 24 + 16 + records[0].frame.size();
  const uint32_t huge = 3000000000u;
  std::memcpy(&bytes[second + 8], &huge, 4);
  std::ofstream(file, std::ios::binary | std::ios::trunc) << bytes;
  Counted c;
  EXPECT_TRUE(c.quarn.LoadFromFile(file));
  EXPECT_EQ(c.caplens.size(), 1u);
  EXPECT_EQ(c.quarn.LastError(), "Quarn Error: pcap_next_ex return -1");
}

TEST(Faults, ARemoteHostThatDiesEndsTheCaptureWithAReadError) {
  if (!RunningAsRoot()) GTEST_SKIP() << "the remote capture host needs root";
  Rpcapd host;
  TraceListener trace;
  const uint16_t port = PrivatePort();
  TQuarn q;
  q.SetFilter("udp port " + std::to_string(port));
  std::atomic<int> frames{0};
  q.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR*, const ETH_HDR*) { ++frames; };
  q.OnGetRemoteAdapterInfo = [&](TCustomQuarn&, const TStringList& names, const TStringList&,
                                 int32_t& index) {
    for (size_t i = 0; i < names.size(); ++i)
      if (names[i].ends_with("/lo")) index = int32_t(i);
  };
  ASSERT_TRUE(q.Open(host.Host(), host.User(), host.Password())) << q.LastError();
  SendDatagram(port, "before");  // the capture runs once the open has returned
  ASSERT_TRUE(ServeUntil(5000, [&] { return frames == 1; }));
  host.Kill();
  EXPECT_TRUE(ServeUntil(10000, [&] { return q.Thread()->State == TZebThread::Ended; }));
  EXPECT_EQ(q.LastError(), "Quarn Error: pcap_next_ex return -1");
  EXPECT_TRUE(q.CaptureEnded());
  EXPECT_EQ(q.StopReason(), "The other host terminated the connection.");
  const auto lines = trace.TakeMessages();
  ASSERT_FALSE(lines.empty());
  EXPECT_EQ(lines.back(),
            "[Quarn] TQuarnThread.Run pcap_next_ex return -1 (Quarn Error: pcap_next_ex return -1)");
  SendDatagram(port, "after");
  ServeUntil(300, [] { return false; });
  EXPECT_EQ(frames, 1);
  EXPECT_TRUE(q.Active());
  EXPECT_TRUE(q.Close());
}
