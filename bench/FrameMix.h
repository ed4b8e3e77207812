#pragma once
// The frames the benchmarks capture and load: TCP segments with payload, bare
// acknowledgements, UDP datagrams, ICMP echoes and ARP requests, 60 to 1514 bytes, with
// correct checksums, drawn from a seeded generator so that a run can be repeated.
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <random>

namespace bench {
inline void Put16(uint8_t* p, uint16_t v) {
  p[0] = uint8_t(v >> 8);
  p[1] = uint8_t(v);
}
inline void Put32(uint8_t* p, uint32_t v) {
  Put16(p, uint16_t(v >> 16));
  Put16(p + 2, uint16_t(v));
}
inline uint16_t Checksum(const uint8_t* p, size_t n, uint32_t sum = 0) {
  for (size_t i = 0; i + 1 < n; i += 2) sum += uint32_t((p[i] << 8) | p[i + 1]);
  if (n & 1) sum += uint32_t(p[n - 1]) << 8;
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}

// Where the frames come from and go to.
struct TFrameAddresses {
  uint8_t Destination[6];
  uint8_t Source[6];
  uint32_t SourceNet;       // a /24: the last byte is random
  uint32_t DestinationNet;  // a /24
};

enum TKind { kTcpData, kTcpAck, kUdp, kIcmp, kArp, KindCount };

struct TFrameMaker {
  std::mt19937 rng;
  TFrameAddresses addresses;
  uint8_t frame[1514];

  // Repeat's payloads: TCP texts and UDP datagrams.
  std::vector<std::string> tcpPayloads, udpPayloads;

  TFrameMaker(unsigned seed, const TFrameAddresses& from) : rng(seed), addresses(from) {}
  uint32_t Next(uint32_t n) { return rng() % n; }

  // Payloads from `distinct` made now (four fifths TCP texts, the rest UDP datagrams): HTTP
  // requests and answers that share their first tens or hundreds of bytes and differ after.
  void Repeat(size_t distinct) {
    tcpPayloads.clear();
    udpPayloads.clear();
    if (distinct == 0) return;
    const size_t tcp = distinct - distinct / 5, udp = distinct / 5 ? distinct / 5 : 1;
    static const char* const kStarts[] = {
        "GET /api/v1/catalogue/items?page=",
        "GET /api/v1/catalogue/items?page=1&sort=price&session=",
        "POST /api/v1/orders HTTP/1.1\r\nHost: shop.example.net\r\nContent-Type: application/json\r\nContent-Length: ",
        "HTTP/1.1 200 OK\r\nServer: nginx\r\nContent-Type: application/json; charset=utf-8\r\nCache-Control: no-cache\r\nContent-Length: ",
        "HTTP/1.1 304 Not Modified\r\nServer: nginx\r\nETag: \"",
    };
    const std::string body =
        "{\"id\":1234,\"name\":\"Widget\",\"price\":19.99,\"tags\":[\"blue\",\"small\"],\"stock\":42} ";
    for (size_t i = 0; i < tcp; ++i) {
      std::string text = kStarts[i % 5] + std::to_string(Next(1000)) +
                         " HTTP/1.1\r\nUser-Agent: Mozilla/5.0 (X11; Linux x86_64)\r\n\r\n";
      const size_t length = 1 + Next(1448);
      while (text.size() < length) text += body;
      text.resize(length);
      tcpPayloads.push_back(text);
    }
    for (size_t i = 0; i < udp; ++i) {
      std::string datagram(Next(512), '\0');
      for (char& c : datagram) c = char(rng());
      udpPayloads.push_back(datagram);
    }
  }

  void Ethernet(uint16_t type) {
    std::memcpy(frame, addresses.Destination, 6);
    std::memcpy(frame + 6, addresses.Source, 6);
    Put16(frame + 12, type);
  }

  // IPv4 header and transport checksums; returns the frame length.
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
    Put32(ip + 12, addresses.SourceNet | Next(256));
    Put32(ip + 16, addresses.DestinationNet | Next(256));
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
    if (length < 60) std::memset(frame + length, 0, 60 - length);
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
    if (!tcpPayloads.empty() && payload) {
      const std::string& text = tcpPayloads[Next(uint32_t(tcpPayloads.size()))];
      payload = text.size();
      std::memcpy(t + 32, text.data(), payload);
    } else {
      for (size_t i = 0; i < payload; ++i) t[32 + i] = uint8_t(' ' + Next(95));
    }
    return Ip(6, 32 + payload);
  }

  size_t Udp(size_t payload) {
    Ethernet(0x0800);
    uint8_t* u = frame + 34;
    Put16(u, uint16_t(1024 + Next(40000)));
    Put16(u + 2, Next(2) ? 53 : 123);
    if (!udpPayloads.empty()) {
      const std::string& datagram = udpPayloads[Next(uint32_t(udpPayloads.size()))];
      payload = datagram.size();
      std::memcpy(u + 8, datagram.data(), payload);
    } else {
      for (size_t i = 0; i < payload; ++i) u[8 + i] = uint8_t(rng());
    }
    Put16(u + 4, uint16_t(8 + payload));
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
    std::memcpy(a + 8, addresses.Source, 6);
    Put32(a + 14, addresses.SourceNet | 1);
    std::memset(a + 18, 0, 6);
    Put32(a + 24, addresses.SourceNet | Next(256));
    std::memset(frame + 42, 0, 18);
    return 60;
  }

  // About half data segments, a quarter bare acknowledgements, the rest UDP, ICMP and ARP.
  size_t Any(TKind& kind) {
    const uint32_t pick = Next(100);
    kind = pick < 50 ? kTcpData : pick < 75 ? kTcpAck : pick < 92 ? kUdp : pick < 97 ? kIcmp : kArp;
    switch (kind) {
      case kTcpData: return Tcp(1 + Next(1448));
      case kTcpAck: return Tcp(0);
      case kUdp: return Udp(Next(512));
      case kIcmp: return Icmp();
      default: return Arp();
    }
  }
};

}  // namespace bench
