// The capture pipeline with real files: a live capture written as it arrives, saved by moving
// its file, cut short by a full disk or a kill; capture files read in place, in pcap and
// pcapng alike, and a file cut short by another program while it is open.
#include <gtest/gtest.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <fcntl.h>
#include <linux/if_packet.h>
#include <net/if.h>
#include <sys/socket.h>
#include <filesystem>
#include <pcap/pcap.h>
#include <spawn.h>
#include <sys/mount.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>

#include "capture/Quarn.h"
#include "pipeline/CapturePipeline.h"
#include "presentation/CellText.h"
#include "tests/common/Frames.h"
#include "tests/common/Loopback.h"
#include "tests/common/Process.h"
#include "tests/common/Rpcapd.h"
#include "tests/platform/TempFolder.h"

namespace {
namespace fs = std::filesystem;

// A UDP datagram whose payload carries `n`, to tell frames apart when they are read back.
Record Numbered(uint32_t n, size_t payload = 40) {
  Bytes data(payload, uint8_t('a' + n % 26));
  std::memcpy(data.data(), &n, sizeof n);
  return {int32_t(1000000000 + n), int32_t(n % 1000000), UdpFrame(4000, 5000, data)};
}

// The number a frame of Numbered carries; 0 for any other frame.
uint32_t NumberOf(const uint8_t* frame, uint32_t caplen) {
  uint32_t n = 0;
  const bool numbered = caplen >= 42 + sizeof n && frame[12] == 0x08 && frame[13] == 0 &&
                        frame[23] == 17 && frame[36] == 5000 >> 8 && frame[37] == (5000 & 0xFF);
  if (numbered) std::memcpy(&n, frame + 42, sizeof n);
  return n;
}

PCAP_PKTHDR HeaderOf(const Record& r) {
  return {{r.sec, r.usec}, uint32_t(r.frame.size()), uint32_t(r.frame.size())};
}

// The frames of a capture file as libpcap reads them: numbers, and the library's complaint.
struct ReadBack {
  std::vector<uint32_t> numbers;
  std::string error;
};
ReadBack ReadWithLibpcap(const std::string& path) {
  ReadBack r;
  char errbuf[PCAP_ERRBUF_SIZE];
  pcap_t* p = pcap_open_offline(path.c_str(), errbuf);
  if (!p) {
    r.error = errbuf;
    return r;
  }
  pcap_pkthdr* h;
  const u_char* d;
  int result;
  while ((result = pcap_next_ex(p, &h, &d)) == 1) r.numbers.push_back(NumberOf(d, h->caplen));
  if (result == -1) r.error = pcap_geterr(p);
  pcap_close(p);
  return r;
}

// tcpdump's count of the frames of a file, and whether it complained.
std::pair<long, std::string> CountWithTcpdump(const std::string& path) {
  const std::string quoted = "'" + path + "'";
  std::FILE* p = popen(("tcpdump -n -r " + quoted + " 2>&1 >/dev/null; tcpdump -n -r " + quoted +
                        " 2>/dev/null | wc -l")
                           .c_str(),
                       "r");
  std::string out;
  char buf[512];
  while (std::fgets(buf, sizeof buf, p)) out += buf;
  pclose(p);
  const size_t last = out.find_last_not_of('\n');
  const size_t line = out.rfind('\n', last);
  const std::string count = out.substr(line == std::string::npos ? 0 : line + 1);
  const std::string complaints = line == std::string::npos ? "" : out.substr(0, line + 1);
  // "reading from file ..." is tcpdump's greeting, not a complaint.
  std::string rest;
  size_t from = 0;
  while (from < complaints.size()) {
    const size_t end = complaints.find('\n', from);
    const std::string l = complaints.substr(from, end - from);
    if (l.rfind("reading from file", 0) != 0 && !l.empty()) rest += l + "\n";
    from = end == std::string::npos ? complaints.size() : end + 1;
  }
  return {std::stol(count), rest};
}

std::vector<std::string> Cells(const TCapturePipeline& p, int32_t view, int32_t row) {
  TRowText text;
  ViewRowText(view, p.Items(view), row, 0, 0, text);
  return {text.begin(), text.end()};
}

std::string FileBytes(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "rb");
  std::string bytes;
  char buf[65536];
  size_t n;
  while (f && (n = std::fread(buf, 1, sizeof buf, f)) > 0) bytes.append(buf, n);
  if (f) std::fclose(f);
  return bytes;
}
}  // namespace

TEST(CapturePipeline, ALiveCaptureIsSavedByMovingItsFileWithExactlyTheFramesShown) {
  std::string error;
  TempDir dir;
  const std::string temp = dir.File("temp.$$$");
  std::vector<Record> records;
  for (uint32_t n = 0; n < 8; ++n) records.push_back(Numbered(n));
  {
    TCapturePipeline capture;
    ASSERT_TRUE(capture.StartLive(temp, DLT_EN10MB, 65535, error)) << error;
    for (int i = 0; i < 5; ++i) {
      const PCAP_PKTHDR h = HeaderOf(records[size_t(i)]);
      ASSERT_TRUE(capture.Add(&h, records[size_t(i)].frame.data()));
    }
    ASSERT_TRUE(capture.Flush());
    EXPECT_EQ(capture.Count(), 5);
    EXPECT_EQ(ReadWithLibpcap(temp).numbers, (std::vector<uint32_t>{0, 1, 2, 3, 4}));

    // Clear All: the file starts again, so that it holds what the views hold.
    capture.Clear();
    EXPECT_EQ(capture.Count(), 0);
    for (int i = 5; i < 8; ++i) {
      const PCAP_PKTHDR h = HeaderOf(records[size_t(i)]);
      ASSERT_TRUE(capture.Add(&h, records[size_t(i)].frame.data()));
    }
    // Saved while it runs: a copy of what has been filed; the capture goes on in its file. The
    // copy is made under a name of its own: a link planted where it once was leads nowhere.
    WriteTextFile(dir.File("victim"), "someone else's");
    ASSERT_EQ(symlink(dir.File("victim").c_str(), dir.File("running.pcap.part").c_str()), 0);
    ASSERT_TRUE(capture.SaveTo(dir.File("running.pcap"), error));
    EXPECT_EQ(ReadWithLibpcap(dir.File("running.pcap")).numbers, (std::vector<uint32_t>{5, 6, 7}));
    EXPECT_EQ(ReadTextFile(dir.File("victim")), "someone else's");
    const mode_t mask = umask(0);  // saved, a file has the mode of any new file of the user's
    umask(mask);
    EXPECT_EQ(FileMode(dir.File("running.pcap")), 0666 & ~mask);
    EXPECT_TRUE(fs::exists(temp));
    EXPECT_TRUE(capture.Temporary());

    capture.Stop();
    ASSERT_TRUE(capture.SaveTo(dir.File("saved.pcap"), error));
    EXPECT_FALSE(fs::exists(temp)) << "the first save moves the file rather than copying it";
    EXPECT_FALSE(capture.Temporary());
    EXPECT_EQ(capture.FileName(), dir.File("saved.pcap"));
    EXPECT_EQ(FileMode(dir.File("saved.pcap")), 0666 & ~mask);
    // Byte for byte what libpcap's own writer makes of the same frames.
    WritePcap(dir.File("reference.pcap"), {records[5], records[6], records[7]});
    EXPECT_EQ(FileBytes(dir.File("saved.pcap")), FileBytes(dir.File("reference.pcap")));
    // The rows are still read from the file where it now lies.
    EXPECT_EQ(capture.Items(viUDPData).size(), 3u);
    const TFrame last = capture.Items(viUDPData)[2];
    ASSERT_TRUE(last.Readable);
    EXPECT_EQ(NumberOf(last.Data(), last.PktHdr.caplen), 7u);
    // Clear All after the save leaves the saved file as it was.
    capture.Clear();
    EXPECT_EQ(ReadWithLibpcap(dir.File("saved.pcap")).numbers, (std::vector<uint32_t>{5, 6, 7}));
  }
  EXPECT_TRUE(fs::exists(dir.File("saved.pcap")));
  {
    // A capture that was never saved takes its temporary file with it.
    TCapturePipeline capture;
    ASSERT_TRUE(capture.StartLive(temp, DLT_EN10MB, 65535, error));
    const PCAP_PKTHDR h = HeaderOf(records[0]);
    capture.Add(&h, records[0].frame.data());
    capture.Stop();
    EXPECT_TRUE(fs::exists(temp));
  }
  EXPECT_FALSE(fs::exists(temp));
}

TEST(CapturePipeline, ADiskThatFillsStopsTheCaptureAndEveryFrameWrittenStays) {
  std::string error;
  if (!RunningAsRoot()) GTEST_SKIP() << "mounting a small file system needs root";
  TempDir dir;
  const std::string small = dir.File("small");
  fs::create_directory(small);
  ASSERT_EQ(mount("tmpfs", small.c_str(), "tmpfs", 0, "size=256k"), 0) << std::strerror(errno);
  const std::string temp = small + "/temp.$$$";
  {
    TCapturePipeline capture;
    ASSERT_TRUE(capture.StartLive(temp, DLT_EN10MB, 65535, error)) << error;
    uint32_t offered = 0;
    for (; offered < 10000; ++offered) {
      const Record r = Numbered(offered, 1000);
      const PCAP_PKTHDR h = HeaderOf(r);
      if (!capture.Add(&h, r.frame.data())) break;
    }
    ASSERT_LT(offered, 10000u) << "the disk never filled";
    EXPECT_TRUE(capture.Failed());
    EXPECT_EQ(capture.Error(), "cannot write to " + temp + ": No space left on device");
    capture.Stop();
    const int32_t kept = capture.Count();
    EXPECT_GT(kept, 100);
    // Every frame the views hold is in the file, whole, and nothing else is.
    std::vector<uint32_t> expected(static_cast<size_t>(kept));
    for (uint32_t n = 0; n < uint32_t(kept); ++n) expected[n] = n;
    const ReadBack back = ReadWithLibpcap(temp);
    EXPECT_EQ(back.numbers, expected);
    EXPECT_EQ(back.error, "");
    const auto [count, complaints] = CountWithTcpdump(temp);
    EXPECT_EQ(count, kept);
    EXPECT_EQ(complaints, "");
    const TFrame last = capture.Store().Frame(kept);
    ASSERT_TRUE(last.Readable);
    EXPECT_EQ(NumberOf(last.Data(), last.PktHdr.caplen), uint32_t(kept - 1));
    // ... and can be saved elsewhere.
    ASSERT_TRUE(capture.SaveTo(dir.File("saved.pcap"), error)) << std::strerror(errno);
    EXPECT_EQ(ReadWithLibpcap(dir.File("saved.pcap")).numbers, expected);
  }
  umount(small.c_str());
}

TEST(CapturePipeline, AKilledCaptureLeavesAFileWithEveryFrameUpToTheLastFlush) {
  std::string error;
  if (!RunningAsRoot()) GTEST_SKIP() << "creating an adapter needs root";
  VethPair veth("trlk" + std::to_string(getpid() % 100000));
  ASSERT_TRUE(veth.Ok());
  TempDir dir;
  const std::string temp = dir.File("temp.$$$");
  int out[2];
  ASSERT_EQ(pipe(out), 0);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_adddup2(&actions, out[1], 1);
  posix_spawn_file_actions_addclose(&actions, out[0]);
  const std::string name = veth.Name();
  char* argv[] = {const_cast<char*>(TRELLAN_PIPELINE_PROBE), const_cast<char*>(name.c_str()),
                  const_cast<char*>(temp.c_str()), nullptr};
  pid_t child = 0;
  ASSERT_EQ(posix_spawn(&child, TRELLAN_PIPELINE_PROBE, &actions, nullptr, argv, environ), 0);
  posix_spawn_file_actions_destroy(&actions);
  close(out[1]);
  std::FILE* reports = fdopen(out[0], "r");
  char line[256] = "";
  ASSERT_TRUE(std::fgets(line, sizeof line, reports));
  ASSERT_STREQ(line, "open\n");

  // Numbered frames out of the other end of the pair, as fast as the kernel takes them.
  std::atomic<bool> stop{false};
  std::atomic<uint32_t> sent{0};
  std::thread sender(
      [&] { veth.BlastNumbered([](uint32_t n) { return Numbered(n, 200).frame; }, 0, stop, sent); });
  // The probe says how many frames its file holds; once it has written a good many, the
  // last number it gave is a floor for what the file must hold after the kill.
  long held = 0;
  while (held < 20000 && std::fgets(line, sizeof line, reports)) held = std::atol(line);
  ASSERT_TRUE(std::fgets(line, sizeof line, reports));
  held = std::atol(line);
  kill(child, SIGKILL);
  stop = true;
  sender.join();
  int status = 0;
  waitpid(child, &status, 0);
  std::fclose(reports);
  ASSERT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == SIGKILL);

  // The kernel stops the write of a killed process between pages, so the record being written
  // when the kill came may end the file cut short. Every reader then reads every whole record
  // before it and says that the file ends early; nothing before the last flush is missing.
  const ReadBack back = ReadWithLibpcap(temp);
  const bool cut = !back.error.empty();
  if (cut) {
    EXPECT_TRUE(back.error.starts_with("truncated dump file")) << back.error;
  }
  EXPECT_GE(long(back.numbers.size()), held);
  // Frames may be lost by the kernel on the way, but those in the file are whole, in order
  // and each once. (The kernel sends a few frames of its own on a new link: number 0.)
  std::vector<uint32_t> ours;
  for (uint32_t n : back.numbers)
    if (n) ours.push_back(n);
  EXPECT_GE(long(ours.size()), held - 100);
  for (size_t i = 1; i < ours.size(); ++i) ASSERT_LT(ours[i - 1], ours[i]) << "at frame " << i;
  const auto [count, complaints] = CountWithTcpdump(temp);
  EXPECT_EQ(count, long(back.numbers.size()));
  EXPECT_EQ(complaints, cut ? "tcpdump: pcap_loop: " + back.error + "\n" : "");
  // So do the capture component's LoadFromFile and Trellan's own reader.
  TQuarn quarn;
  size_t loaded = 0;
  quarn.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR*, const ETH_HDR*) { ++loaded; };
  EXPECT_TRUE(quarn.LoadFromFile(temp));
  EXPECT_EQ(quarn.LastError(), cut ? "Quarn Error: pcap_next_ex return -1" : "");
  EXPECT_EQ(loaded, back.numbers.size());
  TCapturePipeline reopened;
  EXPECT_EQ(reopened.ReadFile(temp, "", error), cut ? TCapturePipeline::TReadResult::Incomplete
                                             : TCapturePipeline::TReadResult::Complete);
  EXPECT_EQ(reopened.Count(), int32_t(back.numbers.size()));
  if (cut) {
    EXPECT_EQ(error, back.error);
  }
}

TEST(CapturePipeline, APcapAndAPcapngCopyOfOneCaptureShowTheSameCells) {
  std::string error;
  TempDir dir;
  std::vector<Record> records;
  for (uint32_t n = 0; n < 50; ++n) records.push_back(Numbered(n, 10 + n * 7));
  TCPFields t;
  t.flags = 0x18;
  records.push_back({1000000100, 5, TcpFrame(t, Text("GET / HTTP/1.0\r\n\r\n"))});
  records.push_back({1000000101, 6, Ethernet(kMacB, kMacA, 0x0806, ARPRequest(kMacA, Ip("10.0.0.1"), Ip("10.0.0.2")))});
  records.push_back({1000000102, 7, UdpFrame(53, 53, Text("cut short")), 30});
  WritePcap(dir.File("a.pcap"), records);
  WritePcapng(dir.File("a.pcapng"), records);
  TCapturePipeline pcap, pcapng;
  ASSERT_EQ(pcap.ReadFile(dir.File("a.pcap"), "", error), TCapturePipeline::TReadResult::Complete);
  ASSERT_EQ(pcapng.ReadFile(dir.File("a.pcapng"), "", error),
            TCapturePipeline::TReadResult::Complete);
  ASSERT_EQ(pcap.Count(), int32_t(records.size()));
  for (int32_t row = 0; row < 9; ++row)  // a view of every cell a UDP frame has
    EXPECT_EQ(Cells(pcap, viUDPData, row), Cells(pcapng, viUDPData, row)) << row;
  EXPECT_EQ(Cells(pcap, viTCPData, 0).back(), "GET / HTTP/1.0\r\n\r\n");
  // A capture filter narrows a file as it is read, as libpcap would.
  TCapturePipeline filtered;
  ASSERT_EQ(filtered.ReadFile(dir.File("a.pcapng"), "tcp or arp", error),
            TCapturePipeline::TReadResult::Complete);
  EXPECT_EQ(filtered.Count(), 2);
}

TEST(CapturePipeline, SavedAsPcapngTsharkTcpdumpAndTrellanReadTheSameFramesAndTimes) {
  std::string error;
  if (std::system("command -v tshark >/dev/null && command -v tcpdump >/dev/null") != 0)
    GTEST_SKIP() << "tshark and tcpdump are the judges";
  TempDir dir;
  // Each temporary file has a name of its own; the frames need each padding of a packet block.
  TCapturePipeline capture, other;
  ASSERT_TRUE(capture.StartLive(dir.File("tempXXXXXX.$$$"), DLT_EN10MB, 65535, error));
  ASSERT_TRUE(other.StartLive(dir.File("tempXXXXXX.$$$"), DLT_EN10MB, 65535, error));
  EXPECT_NE(capture.FileName(), other.FileName());
  for (uint32_t n = 0; n < 9; ++n) {
    const Record r = Numbered(n, 40 + n);
    PCAP_PKTHDR h = HeaderOf(r);
    h.caplen = n == 4 ? 50 : h.caplen;
    ASSERT_TRUE(capture.Add(&h, r.frame.data()));
  }
  // Saved while running, in capitals, past a file planted where a copy once was; then moved.
  const std::string saved = dir.File("RUNNING.PCAPNG"), original = dir.File("original.pcap");
  WriteTextFile(saved + ".part", "planted");
  ASSERT_TRUE(capture.SaveTo(saved, error));
  EXPECT_EQ(ReadTextFile(saved + ".part"), "planted");
  capture.Stop();
  ASSERT_TRUE(capture.Temporary() && capture.SaveTo(original, error));
  const auto tshark = [](const std::string& f, const std::string& o) { return Output("tshark -r " + f + " " + o); };
  const std::string fields = "-T fields -e frame.time_epoch -e frame.len -e frame.cap_len";
  const std::string times = tshark(original, fields);
  ASSERT_EQ(std::count(times.begin(), times.end(), '\n'), 9) << times;
  EXPECT_EQ(FileBytes(saved).substr(0, 4), "\x0A\x0D\x0D\x0A");
  EXPECT_EQ(tshark(saved, fields), times);
  EXPECT_EQ(tshark(saved, "-x"), tshark(original, "-x"));
  EXPECT_EQ(CountWithTcpdump(saved), std::make_pair(9L, std::string()));
  EXPECT_TRUE(std::system("command -v capinfos >/dev/null") != 0 ||
              Output("capinfos -t '" + saved + "'").find("pcapng") != std::string::npos);
  TCapturePipeline pcap, pcapng;
  pcap.ReadFile(original, "", error);
  pcapng.ReadFile(saved, "", error);
  ASSERT_EQ(pcapng.List(viUDPData).Count(), 9);
  for (int32_t row = 0; row < 9; ++row)  // a view of every cell a UDP frame has
    EXPECT_EQ(Cells(pcap, viUDPData, row), Cells(pcapng, viUDPData, row)) << row;

  // Nanosecond times stay so in pcapng; under a pcap name that is pcap again, in microseconds.
  const std::string nano = dir.File("nano.pcap");
  WritePcap(nano, {{1, 123456789, Numbered(0).frame}, {2, 999999999, Numbered(1).frame}});
  std::FILE* file = std::fopen(nano.c_str(), "r+b");
  std::fwrite("\x4D\x3C\xB2\xA1", 1, 4, file);
  std::fclose(file);
  TCapturePipeline fromNano, fromPcapng;
  fromNano.ReadFile(nano, "", error);
  ASSERT_TRUE(fromNano.SaveTo(dir.File("nano.pcapng"), error));
  EXPECT_EQ(tshark(dir.File("nano.pcapng"), fields), tshark(nano, fields));
  fromPcapng.ReadFile(dir.File("nano.pcapng"), "", error);
  ASSERT_TRUE(fromPcapng.SaveTo(dir.File("back.cap"), error));
  EXPECT_EQ(FileBytes(dir.File("back.cap")).substr(0, 4), "\xD4\xC3\xB2\xA1");
  EXPECT_EQ(Output("tcpdump -tt -n -r " + dir.File("back.cap")), Output("tcpdump -tt -n -r " + nano));
}

TEST(CapturePipeline, AFileCutShortWhileOpenShowsUnreadableRowsAndDoesNotCrash) {
  std::string error;
  TempDir dir;
  std::vector<Record> records;
  // Large enough frames that the second half of the file is many pages.
  for (uint32_t n = 0; n < 400; ++n) records.push_back(Numbered(n, 1400));
  const std::string path = dir.File("cut.pcap");
  WritePcap(path, records);
  TCapturePipeline capture;
  ASSERT_EQ(capture.ReadFile(path, "", error), TCapturePipeline::TReadResult::Complete);
  const std::vector<std::string> first = Cells(capture, viUDP, 0);
  EXPECT_FALSE(capture.CheckFileChanged());

  ASSERT_EQ(truncate(path.c_str(), off_t(fs::file_size(path) / 2)), 0);
  // Rows past the new end are read before the change is noticed: the pages behind them are
  // gone, which must not bring the program down.
  for (int32_t row = 0; row < capture.List(viUDP).Count(); ++row) Cells(capture, viUDP, row);
  EXPECT_TRUE(capture.CheckFileChanged());
  int32_t readable = 0, unreadable = 0;
  for (int32_t n = 1; n <= capture.Count(); ++n) {
    const TFrame frame = capture.Store().Frame(n);
    EXPECT_EQ(frame.Index, n);
    if (!frame.Readable) {
      ++unreadable;
      continue;
    }
    ASSERT_EQ(unreadable, 0) << "a readable frame after an unreadable one, at " << n;
    ++readable;
    EXPECT_EQ(NumberOf(frame.Data(), frame.PktHdr.caplen), uint32_t(n - 1));
  }
  EXPECT_GT(readable, 150);
  EXPECT_GT(unreadable, 150);
  EXPECT_EQ(Cells(capture, viUDP, 0), first);
  const std::vector<std::string> gone = Cells(capture, viUDP, capture.List(viUDP).Count() - 1);
  ASSERT_EQ(gone.size(), 2u);
  EXPECT_EQ(gone[0], std::to_string(capture.Count()));
  EXPECT_EQ(gone[1], "unreadable: the file has changed");
}

TEST(CapturePipeline, ACaptureFileOnAReadOnlyFileSystemOpens) {
  std::string error;
  if (!RunningAsRoot()) GTEST_SKIP() << "mounting needs root";
  TempDir dir;
  const std::string disk = dir.File("ro");
  fs::create_directory(disk);
  ASSERT_EQ(mount("tmpfs", disk.c_str(), "tmpfs", 0, "size=1m"), 0);
  WritePcap(disk + "/a.pcap", {Numbered(1), Numbered(2)});
  WritePcapng(disk + "/a.pcapng", {Numbered(1), Numbered(2)});
  ASSERT_EQ(mount(nullptr, disk.c_str(), nullptr, MS_REMOUNT | MS_RDONLY, nullptr), 0);
  for (const char* name : {"/a.pcap", "/a.pcapng"}) {
    TCapturePipeline capture;
    ASSERT_EQ(capture.ReadFile(disk + name, "", error), TCapturePipeline::TReadResult::Complete)
        << error;
    ASSERT_EQ(capture.Count(), 2);
    const TFrame second = capture.Store().Frame(2);
    EXPECT_EQ(NumberOf(second.Data(), second.PktHdr.caplen), 2u);
    EXPECT_FALSE(capture.CheckFileChanged());
  }
  umount(disk.c_str());
}

TEST(CapturePipeline, ACaptureThatIsFullSaysSoAndKeepsWhatItHolds) {
  std::string error;
  TempDir dir;
  std::vector<Record> records;
  for (uint32_t n = 0; n < 20; ++n) records.push_back(Numbered(n));
  WritePcap(dir.File("twenty.pcap"), records);
  TCapturePipeline file(10);
  EXPECT_EQ(file.ReadFile(dir.File("twenty.pcap"), "", error),
            TCapturePipeline::TReadResult::Incomplete);
  EXPECT_EQ(error,
            "the capture cannot hold more than 10 frames; the frames after them were not kept");
  EXPECT_EQ(file.Count(), 10);
  EXPECT_EQ(file.List(viUDPData).Count(), 10);

  TCapturePipeline live(10);
  ASSERT_TRUE(live.StartLive(dir.File("temp.$$$"), DLT_EN10MB, 65535, error));
  int kept = 0;
  for (const Record& r : records) {
    const PCAP_PKTHDR h = HeaderOf(r);
    if (!live.Add(&h, r.frame.data()) || !live.Flush()) break;
    ++kept;
  }
  EXPECT_EQ(kept, 10);
  EXPECT_TRUE(live.Failed());
  EXPECT_EQ(live.Count(), 10);
  live.Stop();
  // The file holds what the views hold, and nothing else.
  EXPECT_EQ(ReadWithLibpcap(dir.File("temp.$$$")).numbers.size(), 10u);
}
