#pragma once
// Builds real Ethernet frames byte by byte, with checksums computed the textbook way
// (one's complement sum over the header with its checksum field zero), and writes them to
// capture files through libpcap (classic pcap) or through a small pcapng writer.
#include <cstdint>
#include <string>
#include <vector>

using Bytes = std::vector<uint8_t>;

struct Mac {
  uint8_t b[6];
};
constexpr Mac kMacA{{0x00, 0xA0, 0xC9, 0x14, 0xC8, 0x29}};
constexpr Mac kMacB{{0x02, 0x1A, 0x2B, 0x3C, 0x4D, 0x5E}};

uint32_t Ip(const char* dotted);  // host order
uint16_t InternetChecksum(const Bytes& data);

Bytes Ethernet(Mac dst, Mac src, uint16_t type, const Bytes& payload);

struct IPv4Fields {
  uint8_t protocol = 6;
  uint32_t src = 0xC0A80001, dst = 0xC0A80002;  // 192.168.0.1 -> 192.168.0.2
  uint16_t ident = 0x1234;
  uint16_t flagOff = 0x4000;
  uint8_t ttl = 128;
  uint8_t tos = 0;
  Bytes options;  // makes VerLen 0x4N
  int totalLengthDelta = 0;  // added to the correct total length (to make it lie)
};
Bytes IPv4(const IPv4Fields& f, const Bytes& payload);

struct TCPFields {
  uint16_t srcPort = 1025, dstPort = 80;
  uint32_t seq = 0xABCD, ack = 0;
  uint8_t flags = 0x02;
  uint16_t window = 8192;
  uint16_t urgent = 0;
  Bytes options;  // padded by the caller to a multiple of 4
};
// A TCP segment with its checksum computed over the pseudo-header of src/dst.
Bytes TCP(const TCPFields& f, uint32_t src, uint32_t dst, const Bytes& payload);
// A UDP datagram; checksum computed unless withChecksum is false (stored 0).
Bytes UDP(uint16_t srcPort, uint16_t dstPort, uint32_t src, uint32_t dst, const Bytes& payload,
          bool withChecksum = true);
// The payload of an 802.1Q-tagged frame: the tag (VLAN id), then an IPv4 EtherType and `inner`.
Bytes VlanTagged(uint16_t vlan, const Bytes& inner);
Bytes ARPRequest(Mac sender, uint32_t senderIp, uint32_t targetIp);

// Whole frames, for the common cases.
Bytes TcpFrame(const TCPFields& t, const Bytes& payload, IPv4Fields ip = {});
Bytes UdpFrame(uint16_t srcPort, uint16_t dstPort, const Bytes& payload, IPv4Fields ip = {});
Bytes Text(const std::string& s);

struct Record {
  int32_t sec = 1000000000, usec = 120;
  Bytes frame;
  uint32_t caplen = 0;  // 0: the whole frame
  uint32_t len = 0;     // 0: the frame's size
};

// Classic pcap through libpcap's dump writer (link type Ethernet, snap length 65535).
void WritePcap(const std::string& path, const std::vector<Record>& records);
// pcapng: section header, one Ethernet interface, one enhanced packet block per record.
void WritePcapng(const std::string& path, const std::vector<Record>& records);

// A fresh empty folder under the temporary directory, removed at destruction.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};
