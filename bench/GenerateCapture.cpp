// Writes a capture file of realistic traffic for the benchmarks: TCP segments with payload,
// bare acknowledgements, UDP datagrams, ARP requests and ICMP echoes, frame sizes 60 to 1514.
//
//   trellan-gencap FILE FRAMES [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pcap/pcap.h>
#include <vector>

#include "bench/FrameMix.h"

namespace {
// The same mix as every benchmark, between private networks.
bench::TFrameMaker Generator(unsigned seed) {
  return bench::TFrameMaker(seed, {{0x00, 0x1B, 0x21, 0x3A, 0x4F, 0x10},
                                   {0x52, 0x54, 0x00, 0x12, 0x34, 0x56},
                                   0x0A000000u,
                                   0xC0A80000u});
}
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE FRAMES [SEED]\n", argv[0]);
    return 2;
  }
  const long frames = std::atol(argv[2]);
  bench::TFrameMaker g = Generator(argc > 3 ? unsigned(std::atoi(argv[3])) : 1u);
  bench::TKind kind;
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* out = pcap_dump_open(dead, argv[1]);
  if (!out) {
    std::fprintf(stderr, "%s\n", pcap_geterr(dead));
    return 1;
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
    pcap_dump(reinterpret_cast<u_char*>(out), &h, g.frame);
  }
  pcap_dump_close(out);
  pcap_close(dead);
  return 0;
}
