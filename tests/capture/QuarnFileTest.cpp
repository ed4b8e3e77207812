// Reading capture files through the capture component, and every way opening one can fail.
#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <fstream>
#include <pcap/pcap.h>

#include "capture/Quarn.h"
#include "tests/common/Frames.h"
#include "tests/common/TraceListener.h"

namespace {
struct Delivered {
  PCAP_PKTHDR header;
  Bytes frame;
};

// A component whose OnCapture keeps a copy of every frame it is handed.
struct Recorder {
  TQuarn quarn;
  std::vector<Delivered> frames;
  Recorder() {
    quarn.OnCapture = [this](TCustomQuarn& sender, const PCAP_PKTHDR* h, const ETH_HDR* e) {
      EXPECT_EQ(&sender, &quarn);
      EXPECT_TRUE(sender.Active());  // frames arrive while the file is open
      const auto* b = reinterpret_cast<const uint8_t*>(e);
      frames.push_back({*h, Bytes(b, b + h->caplen)});
    };
  }
};

std::vector<Record> ThreeFrames() {
  std::vector<Record> r(3);
  r[0].frame = TcpFrame({}, Text("first"));
  r[0].sec = 1700000000;
  r[0].usec = 1;
  r[1].frame = UdpFrame(5353, 5353, Text("second"));
  r[1].sec = 1700000001;
  r[1].usec = 999999;
  r[2].frame = Ethernet(kMacA, kMacB, 0x0806, ARPRequest(kMacB, Ip("10.0.0.1"), Ip("10.0.0.2")));
  r[2].caplen = 30;  // cut short by a snap length
  r[2].len = 42;
  return r;
}

void ExpectSame(const std::vector<Delivered>& got, const std::vector<Record>& want) {
  ASSERT_EQ(got.size(), want.size());
  for (size_t i = 0; i < want.size(); ++i) {
    const uint32_t caplen = want[i].caplen ? want[i].caplen : uint32_t(want[i].frame.size());
    EXPECT_EQ(got[i].header.ts.tv_sec, want[i].sec);
    EXPECT_EQ(got[i].header.ts.tv_usec, want[i].usec);
    EXPECT_EQ(got[i].header.caplen, caplen);
    EXPECT_EQ(got[i].header.len, want[i].len ? want[i].len : want[i].frame.size());
    EXPECT_EQ(got[i].frame, Bytes(want[i].frame.begin(), want[i].frame.begin() + caplen));
  }
}
}  // namespace

TEST(QuarnFile, DeliversEveryFrameOfPcapAndPcapngFiles) {
  TempDir dir;
  const auto records = ThreeFrames();
  WritePcap(dir.File("three.cap"), records);
  WritePcapng(dir.File("three.pcapng"), records);
  for (const char* name : {"three.cap", "three.pcapng"}) {
    Recorder r;
    EXPECT_TRUE(r.quarn.LoadFromFile(dir.File(name))) << r.quarn.LastError();
    ExpectSame(r.frames, records);
    EXPECT_FALSE(r.quarn.Active());
    EXPECT_EQ(r.quarn.Handle(), nullptr);
    EXPECT_EQ(r.quarn.Source(), "file://" + dir.File(name));
    EXPECT_EQ(r.quarn.LastError(), "");
  }
}

TEST(QuarnFile, FilterSelectsFramesAndDisabledCaptureReadsNothing) {
  TempDir dir;
  const auto records = ThreeFrames();
  WritePcap(dir.File("f.cap"), records);
  Recorder udp;
  udp.quarn.SetFilter("udp port 5353");
  EXPECT_TRUE(udp.quarn.LoadFromFile(dir.File("f.cap")));
  ExpectSame(udp.frames, {records[1]});

  Recorder off;
  off.quarn.SetCaptureEnabled(false);
  EXPECT_TRUE(off.quarn.LoadFromFile(dir.File("f.cap")));
  EXPECT_TRUE(off.frames.empty());
  EXPECT_FALSE(off.quarn.Active());
}

TEST(QuarnFile, OpenFailuresReportTheirTextAndTraceAndLeaveTheComponentClosed) {
  TraceListener trace;
  TempDir dir;
  {
    TQuarn q;
    EXPECT_FALSE(q.LoadFromFile(""));
    EXPECT_EQ(q.LastError(), "Quarn Error: Invalid FileName");
    EXPECT_EQ(trace.TakeMessages(),
              std::vector<std::string>{"[Quarn] TCustomQuarn.LoadFromFile (Quarn Error: Invalid FileName)"});
  }
  {
    TQuarn q;
    const std::string missing = dir.File("missing.cap");
    EXPECT_FALSE(q.LoadFromFile(missing));
    EXPECT_NE(q.LastError().find("No such file"), std::string::npos) << q.LastError();
    EXPECT_EQ(trace.TakeMessages(),
              std::vector<std::string>{"[Quarn] TCustomQuarn.DoOpen pcap_open return nil (" +
                                       q.LastError() + ")"});
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.Source(), "");
  }
  {
    std::ofstream(dir.File("notes.txt")) << "this is not a capture file, just some words\n";
    TQuarn q;
    EXPECT_FALSE(q.LoadFromFile(dir.File("notes.txt")));
    EXPECT_NE(q.LastError(), "");
    EXPECT_EQ(trace.TakeMessages().size(), 1u);
  }
  {
    WritePcap(dir.File("ok.cap"), ThreeFrames());
    TQuarn q;
    q.SetFilter("tcp port");
    EXPECT_FALSE(q.LoadFromFile(dir.File("ok.cap")));
    EXPECT_NE(q.LastError().find("syntax error"), std::string::npos) << q.LastError();
    EXPECT_EQ(trace.TakeMessages(),
              std::vector<std::string>{
                  "[Quarn] TCustomQuarn.ProcessFilter pcap_compile return -1 (" + q.LastError() + ")"});
    EXPECT_FALSE(q.Active());
    EXPECT_EQ(q.Handle(), nullptr);
    EXPECT_FALSE(q.Close());
  }
}

TEST(QuarnFile, ASecondOpenWhileReadingIsRefusedWithoutDisturbingTheFirst) {
  TraceListener trace;
  TempDir dir;
  const auto records = ThreeFrames();
  WritePcap(dir.File("f.cap"), records);
  Recorder r;
  bool asked = false;
  auto keep = r.quarn.OnCapture;
  r.quarn.OnCapture = [&](TCustomQuarn& s, const PCAP_PKTHDR* h, const ETH_HDR* e) {
    if (!asked) {
      asked = true;
      EXPECT_FALSE(r.quarn.LoadFromFile(dir.File("f.cap")));
      EXPECT_EQ(r.quarn.LastError(), "Quarn Error: Already open");
      EXPECT_FALSE(r.quarn.Open(false));
      EXPECT_FALSE(r.quarn.Open("127.0.0.1", "u", "p"));
      EXPECT_TRUE(r.quarn.Active());
    }
    keep(s, h, e);
  };
  EXPECT_TRUE(r.quarn.LoadFromFile(dir.File("f.cap")));
  ExpectSame(r.frames, records);
  EXPECT_EQ(trace.TakeMessages(),
            (std::vector<std::string>{
                "[Quarn] TCustomQuarn.LoadFromFile (Quarn Error: Already open)",
                "[Quarn] TCustomQuarn.Open (Quarn Error: Already open)",
                "[Quarn] TCustomQuarn.Open (Quarn Error: Already open)"}));
}

TEST(QuarnFile, AReadErrorKeepsTheFramesBeforeItAndStillSucceeds) {
  TraceListener trace;
  TempDir dir;
  const auto records = ThreeFrames();
  WritePcap(dir.File("cut.cap"), records);
  // Cut the file in the middle of the last record's bytes.
  std::filesystem::resize_file(dir.File("cut.cap"), std::filesystem::file_size(dir.File("cut.cap")) - 10);
  Recorder r;
  EXPECT_TRUE(r.quarn.LoadFromFile(dir.File("cut.cap")));
  ExpectSame(r.frames, {records[0], records[1]});
  EXPECT_EQ(r.quarn.LastError(), "Quarn Error: pcap_next_ex return -1");
  EXPECT_EQ(trace.TakeMessages(),
            std::vector<std::string>{
                "[Quarn] TCustomQuarn.LoadFromFile (Quarn Error: pcap_next_ex return -1)"});
  EXPECT_FALSE(r.quarn.Active());
}

TEST(QuarnFile, AnotherLinkTypeIsTracedAndStillRead) {
  TraceListener trace;
  TempDir dir;
  pcap_t* dead = pcap_open_dead(DLT_RAW, 65535);
  pcap_dumper_t* d = pcap_dump_open(dead, dir.File("raw.cap").c_str());
  const Bytes datagram = IPv4({}, TCP({}, 1, 2, {}));
  pcap_pkthdr h{};
  h.caplen = h.len = uint32_t(datagram.size());
  pcap_dump(reinterpret_cast<u_char*>(d), &h, datagram.data());
  pcap_dump_close(d);
  pcap_close(dead);
  Recorder r;
  EXPECT_TRUE(r.quarn.LoadFromFile(dir.File("raw.cap")));
  EXPECT_EQ(r.frames.size(), 1u);
  EXPECT_EQ(trace.TakeMessages(),
            std::vector<std::string>{"[Quarn] TCustomQuarn.DoOpen pcap_datalink=" +
                                     std::to_string(DLT_RAW)});
}

TEST(QuarnFile, DatagramCarriesTheCallingThreadIdInHex) {
  TraceListener trace;
  TQuarn q;
  q.LoadFromFile("");
  const auto lines = trace.Take();
  ASSERT_EQ(lines.size(), 1u);
  char id[16];
  std::snprintf(id, sizeof id, "%08X ", unsigned(gettid()));
  EXPECT_EQ(lines[0], std::string(id) + "[Quarn] TCustomQuarn.LoadFromFile (Quarn Error: Invalid FileName)");
}
