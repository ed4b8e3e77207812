// Writes a capture file of realistic traffic for the benchmarks: TCP segments with payload,
// bare acknowledgements, UDP datagrams, ARP requests and ICMP echoes, frame sizes 60 to 1514.
//
//   trellan-gencap FILE FRAMES [SEED]
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <pcap/pcap.h>
#include <random>
#include <vector>

namespace {
void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
void Put32(uint8_t* p, uint32_t v) {
  Put16(p, uint16_t(v >> 16));
  Put16(p + 2, uint16_t(v));
}
uint16_t Checksum(const uint8_t* p, size_t n, uint32_t sum = 0) {
  for (size_t i = 0; i + 1 < n; i += 2) sum += uint32_t((p[i] << 8) | p[i + 1]);
  if (n & 1) sum += uint32_t(p[n - 1]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}

struct Generator {
  std::mt19937 rng;
  uint8_t frame[1514];

  explicit Generator(unsigned seed) : rng(seed) {}
  uint32_t Next(uint32_t n) { return rng() % n; }

  size_t Ethernet(uint16_t type) {
    static const uint8_t dst[6] = {0x00, 0x1B, 0x21, 0x3A, 0x4F, 0x10};
    static const uint8_t src[6] = {0x52, 0x54, 0x00, 0x12, 0x34, 0x56};
    std::memcpy(frame, dst, 6);
    std::memcpy(frame + 6, src, 6);
    Put16(frame + 12, type);
    return 14;
  }

  // IPv4 header and transport, with correct checksums; returns the frame length.
  size_t Ip(uint8_t protocol, size_t transportLength) {
    uint8_t* ip = frame + 14;
    ip[0] = 0x45;
    ip[1] = 0;
    Put16(ip + 2, uint16_t(20 + transportLength));
    Put16(ip + 4, uint16_t(rng()));
    Put16(ip + 6, 0x4000);
    ip[8] = 64;
    ip[9] = protocol;
    Put16(ip + 10, 0);
    Put32(ip + 12, 0x0A000000u | Next(256));
    Put32(ip + 16, 0xC0A80000u | Next(256));
    Put16(ip + 10, Checksum(ip, 20));
    if (protocol == 6 || protocol == 17) {
      uint32_t pseudo = 0;
      for (int i = 12; i < 20; i += 2) pseudo += uint32_t((ip[i] << 8) | ip[i + 1]);
      pseudo += protocol + uint32_t(transportLength);
      uint8_t* t = ip + 20;
      const size_t at = protocol == 6 ? 16 : 6;
      Put16(t + at, 0);
      Put16(t + at, Checksum(t, transportLength, pseudo));
    }
    const size_t length = 34 + transportLength;
    return length < 60 ? 60 : length;  // Ethernet pads short frames
  }

  size_t Tcp(size_t payload) {
    Ethernet(0x0800);
    uint8_t* t = frame + 34;
    Put16(t, uint16_t(1024 + Next(40000)));
    Put16(t + 2, Next(2) ? 443 : 80);
    Put32(t + 4, rng());
    Put32(t + 8, rng());
    t[12] = 0x80;  // timestamps option
    t[13] = payload ? 0x18 : 0x10;
    Put16(t + 14, 502);
    Put16(t + 18, 0);
    const uint8_t options[12] = {1, 1, 8, 10, 0, 0, 1, 2, 0, 0, 3, 4};
    std::memcpy(t + 20, options, 12);
    for (size_t i = 0; i < payload; ++i) t[32 + i] = uint8_t(' ' + Next(95));
    return Ip(6, 32 + payload);
  }

  size_t Udp(size_t payload) {
    Ethernet(0x0800);
    uint8_t* u = frame + 34;
    Put16(u, uint16_t(1024 + Next(40000)));
    Put16(u + 2, Next(2) ? 53 : 123);
    Put16(u + 4, uint16_t(8 + payload));
    for (size_t i = 0; i < payload; ++i) u[8 + i] = uint8_t(rng());
    return Ip(17, 8 + payload);
  }

  size_t Icmp() {
    Ethernet(0x0800);
    uint8_t* c = frame + 34;
    c[0] = 8;
    c[1] = 0;
    Put16(c + 2, 0);
    Put32(c + 4, rng());
    for (int i = 8; i < 64; ++i) c[i] = uint8_t(i);
    Put16(c + 2, Checksum(c, 64));
    return Ip(1, 64);
  }

  size_t Arp() {
    Ethernet(0x0806);
    uint8_t* a = frame + 14;
    Put16(a, 1);
    Put16(a + 2, 0x0800);
    a[4] = 6;
    a[5] = 4;
    Put16(a + 6, 1);
    std::memcpy(a + 8, frame + 6, 6);
    Put32(a + 14, 0x0A000001);
    std::memset(a + 18, 0, 6);
    Put32(a + 24, 0x0A000000u | Next(256));
    std::memset(frame + 42, 0, 18);
    return 60;
  }

  // The mix: about half data segments, a quarter bare acknowledgements, the rest UDP,
  // ICMP and ARP.
  size_t Any() {
    const uint32_t pick = Next(100);
    if (pick < 50) return Tcp(1 + Next(1448));
    if (pick < 75) return Tcp(0);
    if (pick < 92) return Udp(Next(512));
    if (pick < 97) return Icmp();
    return Arp();
  }
};
}  // namespace

int main(int argc, char** argv) {
  if (argc < 3) {
    std::fprintf(stderr, "usage: %s FILE FRAMES [SEED]\n", argv[0]);
    return 2;
  }
  const long frames = std::atol(argv[2]);
  Generator g(argc > 3 ? unsigned(std::atoi(argv[3])) : 1u);
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* out = pcap_dump_open(dead, argv[1]);
  if (!out) {
    std::fprintf(stderr, "%s\n", pcap_geterr(dead));
    return 1;
  }
  pcap_pkthdr h{};
  h.ts.tv_sec = 1700000000;
  for (long i = 0; i < frames; ++i) {
    h.caplen = h.len = uint32_t(g.Any());
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
