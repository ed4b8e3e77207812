#include "tests/common/Frames.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <pcap/pcap.h>
#include <stdexcept>

namespace {
void Put16(Bytes& b, uint16_t v) {
  b.push_back(uint8_t(v >> 8));
  b.push_back(uint8_t(v));
}
void Put32(Bytes& b, uint32_t v) {
  Put16(b, uint16_t(v >> 16));
  Put16(b, uint16_t(v));
}
void Set16(Bytes& b, size_t at, uint16_t v) {
  b[at] = uint8_t(v >> 8);
  b[at + 1] = uint8_t(v);
}
Bytes PseudoHeader(uint32_t src, uint32_t dst, uint8_t protocol, size_t length) {
  Bytes p;
  Put32(p, src);
  Put32(p, dst);
  p.push_back(0);
  p.push_back(protocol);
  Put16(p, uint16_t(length));
  return p;
}
Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}
}  // namespace

uint32_t Ip(const char* dotted) {
  in_addr a{};
  inet_pton(AF_INET, dotted, &a);
  return ntohl(a.s_addr);
}

uint16_t InternetChecksum(const Bytes& data) {
  uint64_t sum = 0;
  for (size_t i = 0; i < data.size(); i += 2) {
    const uint16_t hi = data[i];
    const uint16_t lo = i + 1 < data.size() ? data[i + 1] : 0;
    sum += (hi << 8) | lo;
  }
  while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}

Bytes Ethernet(Mac dst, Mac src, uint16_t type, const Bytes& payload) {
  Bytes b(dst.b, dst.b + 6);
  b.insert(b.end(), src.b, src.b + 6);
  Put16(b, type);
  return Concat(b, payload);
}

Bytes IPv4(const IPv4Fields& f, const Bytes& payload) {
  Bytes b;
  const size_t headerLength = 20 + f.options.size();
  b.push_back(uint8_t(0x40 | (headerLength / 4)));
  b.push_back(f.tos);
  Put16(b, uint16_t(int(headerLength + payload.size()) + f.totalLengthDelta));
  Put16(b, f.ident);
  Put16(b, f.flagOff);
  b.push_back(f.ttl);
  b.push_back(f.protocol);
  Put16(b, 0);
  Put32(b, f.src);
  Put32(b, f.dst);
  b.insert(b.end(), f.options.begin(), f.options.end());
  Set16(b, 10, InternetChecksum(b));
  return Concat(b, payload);
}

Bytes TCP(const TCPFields& f, uint32_t src, uint32_t dst, const Bytes& payload) {
  Bytes b;
  Put16(b, f.srcPort);
  Put16(b, f.dstPort);
  Put32(b, f.seq);
  Put32(b, f.ack);
  b.push_back(uint8_t(((20 + f.options.size()) / 4) << 4));
  b.push_back(f.flags);
  Put16(b, f.window);
  Put16(b, 0);
  Put16(b, f.urgent);
  b.insert(b.end(), f.options.begin(), f.options.end());
  b = Concat(b, payload);
  Set16(b, 16, InternetChecksum(Concat(PseudoHeader(src, dst, 6, b.size()), b)));
  return b;
}

Bytes UDP(uint16_t srcPort, uint16_t dstPort, uint32_t src, uint32_t dst, const Bytes& payload,
          bool withChecksum) {
  Bytes b;
  Put16(b, srcPort);
  Put16(b, dstPort);
  Put16(b, uint16_t(8 + payload.size()));
  Put16(b, 0);
  b = Concat(b, payload);
  if (withChecksum)
    Set16(b, 6, InternetChecksum(Concat(PseudoHeader(src, dst, 17, b.size()), b)));
  return b;
}

Bytes VlanTagged(uint16_t vlan, const Bytes& inner) {
  Bytes b(4 + inner.size());
  Set16(b, 0, vlan);
  Set16(b, 2, 0x0800);
  std::copy(inner.begin(), inner.end(), b.begin() + 4);
  return b;
}

Bytes ARPRequest(Mac sender, uint32_t senderIp, uint32_t targetIp) {
  Bytes b;
  Put16(b, 1);
  Put16(b, 0x0800);
  b.push_back(6);
  b.push_back(4);
  Put16(b, 1);
  b.insert(b.end(), sender.b, sender.b + 6);
  Put32(b, senderIp);
  for (int i = 0; i < 6; ++i) b.push_back(0);
  Put32(b, targetIp);
  return b;
}

Bytes TcpFrame(const TCPFields& t, const Bytes& payload, IPv4Fields ip) {
  ip.protocol = 6;
  return Ethernet(kMacA, kMacB, 0x0800, IPv4(ip, TCP(t, ip.src, ip.dst, payload)));
}

Bytes UdpFrame(uint16_t srcPort, uint16_t dstPort, const Bytes& payload, IPv4Fields ip) {
  ip.protocol = 17;
  return Ethernet(kMacA, kMacB, 0x0800, IPv4(ip, UDP(srcPort, dstPort, ip.src, ip.dst, payload)));
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

void WritePcap(const std::string& path, const std::vector<Record>& records) {
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* d = pcap_dump_open(dead, path.c_str());
  if (!d) throw std::runtime_error("cannot write " + path);
  for (const auto& r : records) {
    pcap_pkthdr h{};
    h.ts.tv_sec = r.sec;
    h.ts.tv_usec = r.usec;
    h.caplen = r.caplen ? r.caplen : uint32_t(r.frame.size());
    h.len = r.len ? r.len : uint32_t(r.frame.size());
    pcap_dump(reinterpret_cast<u_char*>(d), &h, r.frame.data());
  }
  pcap_dump_close(d);
  pcap_close(dead);
}

namespace {
void Le32(std::FILE* f, uint32_t v) { std::fwrite(&v, 4, 1, f); }
void Le16(std::FILE* f, uint16_t v) { std::fwrite(&v, 2, 1, f); }
}  // namespace

void WritePcapng(const std::string& path, const std::vector<Record>& records) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) throw std::runtime_error("cannot write " + path);
  // Section header block.
  Le32(f, 0x0A0D0D0A);
  Le32(f, 28);
  Le32(f, 0x1A2B3C4D);
  Le16(f, 1);
  Le16(f, 0);
  Le32(f, 0xFFFFFFFF);
  Le32(f, 0xFFFFFFFF);
  Le32(f, 28);
  // Interface description block: Ethernet, snap length 65535, microsecond stamps.
  Le32(f, 1);
  Le32(f, 20);
  Le16(f, 1);
  Le16(f, 0);
  Le32(f, 65535);
  Le32(f, 20);
  for (const auto& r : records) {
    const uint32_t caplen = r.caplen ? r.caplen : uint32_t(r.frame.size());
    const uint32_t len = r.len ? r.len : uint32_t(r.frame.size());
    const uint32_t padded = (caplen + 3) & ~3u;
    const uint32_t total = 32 + padded;
    const uint64_t stamp = uint64_t(uint32_t(r.sec)) * 1000000u + uint32_t(r.usec);
    Le32(f, 6);
    Le32(f, total);
    Le32(f, 0);
    Le32(f, uint32_t(stamp >> 32));
    Le32(f, uint32_t(stamp));
    Le32(f, caplen);
    Le32(f, len);
    std::fwrite(r.frame.data(), 1, caplen, f);
    static const uint8_t zeros[4] = {};
    std::fwrite(zeros, 1, padded - caplen, f);
    Le32(f, total);
  }
  std::fclose(f);
}

TempDir::TempDir() {
  std::string pattern = (std::filesystem::temp_directory_path() / "trellan-test-XXXXXX").string();
  if (!mkdtemp(pattern.data())) throw std::runtime_error("mkdtemp failed");
  path_ = pattern;
}

TempDir::~TempDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}
