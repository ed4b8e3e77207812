#pragma once
// The records through which the program looks at the headers of a captured frame, and the
// small free functions that render addresses and compute the expected IPv4 header checksum.
// Where each header lies is found by DecodeLayers (PacketLayers.h).
//
// The records are overlays on the frame bytes. Every multi-byte field stays in network order
// and is read through be16()/be32(). All fields are byte arrays, so the records have
// alignment 1 and their sizes are exactly the wire sizes without any packing pragma.
//
// Bounds: a stored frame holds only its captured bytes (caplen), and every function here
// takes `end`, the first byte past them. A function reads a field only when the whole field
// lies before `end`. Header pointers may point at or past `end` (a header that was not
// captured is still located); it is the field reads that are bounded.
#include <cstdint>
#include <optional>
#include <string>

struct BE16 {
  uint8_t b[2];
};
struct BE32 {
  uint8_t b[4];
};
inline uint16_t be16(const BE16& v) { return uint16_t((v.b[0] << 8) | v.b[1]); }
inline uint32_t be32(const BE32& v) {
  return (uint32_t(v.b[0]) << 24) | (uint32_t(v.b[1]) << 16) | (uint32_t(v.b[2]) << 8) | v.b[3];
}

// The capture record header with 32-bit times, as stored in a capture file.
struct PCAP_PKTHDR {
  struct {
    int32_t tv_sec;
    int32_t tv_usec;
  } ts;
  uint32_t caplen;
  uint32_t len;
};
using PPCAP_PKTHDR = PCAP_PKTHDR*;

struct ETH_HDR {
  uint8_t DstMac[6];
  uint8_t SrcMac[6];
  BE16 Protocol;
};
using PETH_HDR = ETH_HDR*;

struct IP_HDR {
  uint8_t VerLen;
  uint8_t Service;
  BE16 Len;
  BE16 Ident;
  BE16 FlagOff;
  uint8_t TimeLive;
  uint8_t Protocol;
  BE16 Checksum;
  BE32 SrcIP;
  BE32 DstIP;
};

struct ARP_HDR {
  BE16 HardwareType;
  BE16 ProtocolType;
  uint8_t HLen;
  uint8_t PLen;
  BE16 Operation;
  uint8_t SenderHA[6];
  BE32 SenderIP;
  uint8_t TargetHA[6];
  BE32 TargetIP;
};

struct ICMP_HDR {
  uint8_t Type;
  uint8_t Code;
  BE16 Checksum;
};

struct TCP_HDR {
  BE16 SrcPort;
  BE16 DstPort;
  BE32 Seq;
  BE32 Ack;
  uint8_t Off_Rsvd;
  uint8_t Rsvd_Flags;
  BE16 Window;
  BE16 Checksum;
  BE16 UrgPoint;
};

struct UDP_HDR {
  BE16 SrcPort;
  BE16 DstPort;
  BE16 Len;
  BE16 Checksum;
};

static_assert(sizeof(PCAP_PKTHDR) == 16);
static_assert(sizeof(ETH_HDR) == 14 && alignof(ETH_HDR) == 1);
static_assert(sizeof(IP_HDR) == 20 && alignof(IP_HDR) == 1);
static_assert(sizeof(ARP_HDR) == 28 && alignof(ARP_HDR) == 1);
static_assert(sizeof(ICMP_HDR) == 4 && alignof(ICMP_HDR) == 1);
static_assert(sizeof(TCP_HDR) == 20 && alignof(TCP_HDR) == 1);
static_assert(sizeof(UDP_HDR) == 8 && alignof(UDP_HDR) == 1);

// True when every byte of `field` (a field of a record overlaid on a frame) was captured.
template <class T>
inline bool Captured(const T& field, const uint8_t* end) {
  return reinterpret_cast<const uint8_t*>(&field) + sizeof(T) <= end;
}
// True when the n bytes from p were captured (n <= 0 is always true).
inline bool Captured(const void* p, long n, const uint8_t* end) {
  const auto* b = static_cast<const uint8_t*>(p);
  return n <= 0 || (b <= end && n <= end - b);
}

// In a frame decoded by type codes, the transport header begins 20 bytes after the IPv4
// header, whatever the header length nibble says (see PacketLayers.h).
constexpr int IPHeaderLength = 20;

// Options start at TCP header + 20 and run data offset × 4 − 20 bytes; true when above 0.
// Without a captured data offset: *options nullptr, *len 0, false.
bool GetTCPOption(const TCP_HDR* tcp, const uint8_t* end, const uint8_t** options,
                  int32_t* len);

// 00:A0:C9:14:C8:29 reads 00A0C9-14C829.
std::string MacToStr(const uint8_t mac[6]);
// An address in host order as dotted decimal.
std::string IPToStr(uint32_t addr);

// Sum of n bytes as big-endian 16-bit words into an unfolded 32-bit sum; an odd last byte is
// the high byte of a word whose low byte is zero. What every Internet checksum adds up.
uint32_t SumWords(const uint8_t* p, uint32_t n);

// The expected checksum of the IPv4 header, `length` bytes long (20 when a frame is decoded
// by type codes, the header length otherwise), in host order; empty when they were not captured,
// and the caller then shows the stored value without a verdict. The transport checksums are
// in PacketLayers.h: they need the frame's network layer.
std::optional<uint16_t> IPChecksum(const IP_HDR* ip, const uint8_t* end,
                                   int32_t length = IPHeaderLength);
