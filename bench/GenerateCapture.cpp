// Writes a capture file of realistic traffic for the benchmarks: TCP segments with payload,
// bare acknowledgements, UDP datagrams, ARP requests and ICMP echoes, frame sizes 60 to 1514.
// With --pcapng the same frames, with the same times, are written as pcapng: a section header
// block, one Ethernet interface with the same snapshot length and the default (microsecond)
// time resolution, and an enhanced packet block per frame, so that the two formats can be
// compared frame for frame.
//
// Payloads repeat as real traffic's do: --distinct N (default 300 a million frames, at least
// 300) texts and datagrams are drawn from; --distinct 0 makes every payload random.
//
//   trellan-gencap [--pcapng] [--distinct N] FILE FRAMES [SEED]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pcap/pcap.h>
#include <string>
#include <vector>

#include "bench/FrameMix.h"

namespace {
constexpr uint32_t SnapLen = 65535;

// The same mix as every benchmark, between private networks.
bench::TFrameMaker Generator(unsigned seed) {
  return bench::TFrameMaker(seed, {{0x00, 0x1B, 0x21, 0x3A, 0x4F, 0x10},
                                   {0x52, 0x54, 0x00, 0x12, 0x34, 0x56},
                                   0x0A000000u,
                                   0xC0A80000u});
}

// pcapng blocks in host byte order (the byte-order magic tells readers which that is), built
// in one buffer that is written through stdio's buffering.
class TPcapngWriter {
 public:
  explicit TPcapngWriter(FILE* f) : File_(f) {}

  void SectionHeader() {
    Begin(0x0A0D0D0A);
    Put32(0x1A2B3C4D);  // byte-order magic
    Put16(1);           // version 1.0
    Put16(0);
    Put64(~uint64_t(0));  // section length not given
    End();
  }
  // One interface: link type, reserved, snapshot length; no options, so if_tsresol is the
  // default of microseconds, as in the classic file.
  void Interface(uint16_t linkType, uint32_t snapLen) {
    Begin(0x00000001);
    Put16(linkType);
    Put16(0);
    Put32(snapLen);
    End();
  }
  void Packet(const pcap_pkthdr& h, const uint8_t* data) {
    Begin(0x00000006);
    Put32(0);  // interface 0
    const uint64_t ts = uint64_t(h.ts.tv_sec) * 1000000u + uint64_t(h.ts.tv_usec);
    Put32(uint32_t(ts >> 32));
    Put32(uint32_t(ts));
    Put32(h.caplen);
    Put32(h.len);
    Block_.insert(Block_.end(), data, data + h.caplen);
    while (Block_.size() % 4) Block_.push_back(0);
    End();
  }
  bool Ok() const { return Ok_; }

 private:
  void Begin(uint32_t type) {
    Block_.clear();
    Put32(type);
    Put32(0);  // total length, filled in by End
  }
  void End() {
    const uint32_t length = uint32_t(Block_.size() + 4);
    std::memcpy(Block_.data() + 4, &length, 4);
    Put32(length);
    if (std::fwrite(Block_.data(), 1, Block_.size(), File_) != Block_.size()) Ok_ = false;
  }
  void Put16(uint16_t v) { Put(&v, 2); }
  void Put32(uint32_t v) { Put(&v, 4); }
  void Put64(uint64_t v) { Put(&v, 8); }
  void Put(const void* p, size_t n) {
    const auto* b = static_cast<const uint8_t*>(p);
    Block_.insert(Block_.end(), b, b + n);
  }

  FILE* File_;
  std::vector<uint8_t> Block_;
  bool Ok_ = true;
};
}  // namespace

int main(int argc, char** argv) {
  bool pcapng = false;
  long distinct = -1;
  std::vector<const char*> args;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--pcapng") == 0) pcapng = true;
    else if (std::strcmp(argv[i], "--distinct") == 0 && i + 1 < argc) distinct = std::atol(argv[++i]);
    else args.push_back(argv[i]);
  }
  if (args.size() < 2 || distinct < -1) {
    std::fprintf(stderr, "usage: %s [--pcapng] [--distinct N] FILE FRAMES [SEED]\n", argv[0]);
    return 2;
  }
  const long frames = std::atol(args[1]);
  if (distinct < 0) distinct = std::max(300L, long(300 * (double(frames) / 1e6)));
  bench::TFrameMaker g = Generator(args.size() > 2 ? unsigned(std::atoi(args[2])) : 1u);
  g.Repeat(size_t(distinct));
  bench::TKind kind;
  pcap_t* dead = nullptr;
  pcap_dumper_t* out = nullptr;
  FILE* ngFile = nullptr;
  TPcapngWriter* ng = nullptr;
  static std::vector<char> buffer(size_t(1) << 20);
  if (pcapng) {
    ngFile = std::fopen(args[0], "wb");
    if (!ngFile) {
      std::perror(args[0]);
      return 1;
    }
    std::setvbuf(ngFile, buffer.data(), _IOFBF, buffer.size());
    ng = new TPcapngWriter(ngFile);
    ng->SectionHeader();
    ng->Interface(DLT_EN10MB, SnapLen);
  } else {
    dead = pcap_open_dead(DLT_EN10MB, int(SnapLen));
    out = pcap_dump_open(dead, args[0]);
    if (!out) {
      std::fprintf(stderr, "%s\n", pcap_geterr(dead));
      return 1;
    }
  }
  pcap_pkthdr h{};
  h.ts.tv_sec = 1700000000;
  for (long i = 0; i < frames; ++i) {
    h.caplen = h.len = uint32_t(g.Any(kind));
    h.ts.tv_usec += 7 + long(g.Next(50));
    if (h.ts.tv_usec >= 1000000) {
      h.ts.tv_usec -= 1000000;
      ++h.ts.tv_sec;
    }
    if (ng) ng->Packet(h, g.frame);
    else pcap_dump(reinterpret_cast<u_char*>(out), &h, g.frame);
  }
  if (ng) {
    const bool ok = ng->Ok() && std::fclose(ngFile) == 0;
    delete ng;
    if (!ok) {
      std::perror(args[0]);
      return 1;
    }
  } else {
    pcap_dump_close(out);
    pcap_close(dead);
  }
  return 0;
}
