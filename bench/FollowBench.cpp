// trellan-followbench: following one large TCP conversation, against tshark following the same
// stream (or, without tshark, tcpdump reading the file) in the same run.
//
//   trellan-followbench FILE [MEGABYTES] [RUNS]
//
// Writes FILE: a TCP connection whose client uploads MEGABYTES (default 100) in 1448-byte
// segments after a request and answer, the server acknowledging every second segment, one pair
// of segments in every thousand swapped, and noise between them (DNS-like UDP, another TCP
// connection of the same hosts). Then, RUNS times (default 3): the file read into a pipeline
// (shown apart), FollowConversation from a row in the middle of the transfer, and every byte
// of the result written to /dev/null by SaveConversation, as Save As writes them.
#include <cstdio>
#include <cstring>
#include <pcap/pcap.h>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "pipeline/CapturePipeline.h"
#include "pipeline/Conversation.h"
#include "presentation/Views.h"

namespace {
constexpr uint32_t Client = 0x0A000001, Server = 0x0A000002;
constexpr uint32_t Segment = 1448;

void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, uint16_t(v >> 16));
  Put16(p + 2, uint16_t(v));
}

class TWriter {
 public:
  explicit TWriter(const std::string& path) {
    Dead_ = pcap_open_dead(DLT_EN10MB, 65535);
    Dumper_ = pcap_dump_open(Dead_, path.c_str());
  }
  ~TWriter() {
    if (Dumper_) pcap_dump_close(Dumper_);
    pcap_close(Dead_);
  }
  bool Ok() const { return Dumper_ != nullptr; }
  void Tcp(bool fromClient, uint16_t clientPort, uint32_t seq, uint32_t ack, uint8_t flags,
           const uint8_t* payload, uint32_t length) {
    uint8_t* t = Header(fromClient, 6, 20 + length);
    Put16(t, fromClient ? clientPort : 80);
    Put16(t + 2, fromClient ? 80 : clientPort);
    Put32(t + 4, seq);
    Put32(t + 8, ack);
    t[12] = 5 << 4;
    t[13] = flags;
    Put16(t + 14, 65535);
    std::memcpy(t + 20, payload, length);
    Write(54 + length);
  }
  void Udp(bool fromClient, const char* text) {
    const uint32_t length = uint32_t(std::strlen(text));
    uint8_t* u = Header(fromClient, 17, 8 + length);
    Put16(u, fromClient ? 5353 : 53);
    Put16(u + 2, fromClient ? 53 : 5353);
    Put16(u + 4, uint16_t(8 + length));
    std::memcpy(u + 8, text, length);
    Write(42 + length);
  }

 private:
  uint8_t* Header(bool fromClient, uint8_t protocol, uint32_t ipPayload) {
    std::memset(Frame_, 0, 54);
    Frame_[0] = 2;
    Frame_[6] = 4;
    Put16(Frame_ + 12, 0x0800);
    uint8_t* ip = Frame_ + 14;
    ip[0] = 0x45;
    Put16(ip + 2, uint16_t(20 + ipPayload));
    ip[8] = 64;
    ip[9] = protocol;
    Put32(ip + 12, fromClient ? Client : Server);
    Put32(ip + 16, fromClient ? Server : Client);
    return ip + 20;
  }
  void Write(uint32_t size) {
    pcap_pkthdr h{};
    h.ts.tv_sec = 1700000000 + Frames_ / 100000;
    h.ts.tv_usec = Frames_ % 100000;
    h.caplen = h.len = size;
    pcap_dump(reinterpret_cast<u_char*>(Dumper_), &h, Frame_);
    ++Frames_;
  }
  pcap_t* Dead_;
  pcap_dumper_t* Dumper_;
  uint8_t Frame_[65536];
  long Frames_ = 0;
};

// The capture; returns the bytes the client uploaded.
uint64_t WriteCapture(const std::string& path, uint64_t megabytes) {
  TWriter w(path);
  if (!w.Ok()) return 0;
  const uint32_t c = 0xFFF00000, s = 7000;  // the client's numbers wrap during the upload
  w.Tcp(true, 40000, c - 1, 0, 0x02, nullptr, 0);
  w.Tcp(false, 40000, s - 1, c, 0x12, nullptr, 0);
  w.Tcp(true, 40000, c, s, 0x10, nullptr, 0);
  const char request[] = "PUT /upload HTTP/1.1\r\n\r\n";
  w.Tcp(true, 40000, c, s, 0x18, reinterpret_cast<const uint8_t*>(request), sizeof request - 1);
  const char answer[] = "HTTP/1.1 100 Continue\r\n\r\n";
  const uint32_t a = sizeof request - 1;
  w.Tcp(false, 40000, s, c + a, 0x18, reinterpret_cast<const uint8_t*>(answer), sizeof answer - 1);
  const uint32_t sAfter = s + sizeof answer - 1;
  std::vector<uint8_t> payload(Segment);
  const uint64_t total = megabytes << 20;
  const uint64_t segments = (total + Segment - 1) / Segment;
  auto send = [&](uint64_t n) {
    const uint64_t from = n * Segment;
    const uint32_t length = uint32_t(std::min<uint64_t>(Segment, total - from));
    for (uint32_t i = 0; i < length; ++i) payload[i] = uint8_t((from + i) * 7 % 251);
    w.Tcp(true, 40000, c + a + uint32_t(from), sAfter, 0x18, payload.data(), length);
  };
  for (uint64_t n = 0; n < segments; ++n) {
    // One pair in a thousand arrives the other way round.
    if (n % 1000 == 500 && n + 1 < segments) {
      send(n + 1);
      send(n);
      ++n;
    } else {
      send(n);
    }
    if (n % 2) w.Tcp(false, 40000, sAfter, c + a + uint32_t((n + 1) * Segment), 0x10, nullptr, 0);
    if (n % 10 == 0) w.Udp(n % 20 == 0, "noise.example. A?");
    if (n % 50 == 0) w.Tcp(true, 40001, uint32_t(n), 1, 0x18, payload.data(), 100);
  }
  w.Tcp(true, 40000, c + a + uint32_t(total), sAfter, 0x11, nullptr, 0);
  w.Tcp(false, 40000, sAfter, c + a + uint32_t(total) + 1, 0x11, nullptr, 0);
  return total + a;
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: trellan-followbench FILE [MEGABYTES] [RUNS]\n");
    return 2;
  }
  const std::string file = argv[1];
  const uint64_t megabytes = argc > 2 ? std::stoull(argv[2]) : 100;
  const int runs = argc > 3 ? std::stoi(argv[3]) : 3;
  const uint64_t clientBytes = WriteCapture(file, megabytes);
  if (!clientBytes) {
    std::fprintf(stderr, "trellan-followbench: cannot write %s\n", file.c_str());
    return 1;
  }
  std::printf("capture: %s, one conversation of %.1f MB plus noise\n", file.c_str(),
              double(clientBytes) / 1e6);
  for (int run = 1; run <= runs; ++run) {
    TCapturePipeline capture;
    const auto t0 = bench::Clock::now();
    std::string error;
    capture.ReadFile(file, "", error);
    const auto t1 = bench::Clock::now();
    const double cpu0 = bench::ProcessCpuSeconds();
    const TPacketList rows = capture.Items(viTCPData);
    const auto conversation = FollowConversation(capture, rows[rows.size() / 2]);
    const auto t2 = bench::Clock::now();
    const double cpu1 = bench::ProcessCpuSeconds();
    const bool saved =
        SaveConversation(capture.Store(), *conversation, TConversationPart::Both, "/dev/null",
                         error);
    const auto t3 = bench::Clock::now();
    const double cpu2 = bench::ProcessCpuSeconds();
    std::printf("run %d: read %.3f s; follow %.3f s (%.3f s CPU); save to /dev/null %.3f s "
                "(%.3f s CPU): %zu chunks, %s bytes, %s missing%s\n",
                run, bench::Seconds(t0, t1), bench::Seconds(t1, t2), cpu1 - cpu0,
                bench::Seconds(t2, t3), cpu2 - cpu1, conversation->Chunks.size(),
                std::to_string(conversation->Bytes[0] + conversation->Bytes[1]).c_str(),
                std::to_string(conversation->Missing[0] + conversation->Missing[1]).c_str(),
                saved && conversation->Bytes[0] == clientBytes ? "" : " (WRONG)");
  }
  for (int run = 1; run <= runs; ++run) {
    if (bench::HaveCommand("tshark")) {
      const auto r = bench::Run({"tshark", "-r", file, "-qz", "follow,tcp,raw,0"});
      std::printf("run %d: tshark -qz follow,tcp,raw,0: %.3f s (%.3f s CPU)%s\n", run, r.Wall,
                  r.Cpu, r.Ok ? "" : " (failed)");
    }
    const auto d = bench::Run({"tcpdump", "-r", file, "-w", "/dev/null"});
    std::printf("run %d: tcpdump -r FILE -w /dev/null: %.3f s (%.3f s CPU)%s\n", run, d.Wall,
                d.Cpu, d.Ok ? "" : " (failed)");
  }
  return 0;
}
