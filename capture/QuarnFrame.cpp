#include "capture/QuarnFrame.h"

#include <cstdio>

namespace {
const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }

bool EtherTypeIs(const ETH_HDR* frame, const uint8_t* end, uint16_t type) {
  return frame && Captured(frame->Protocol, end) && be16(frame->Protocol) == type;
}

bool IPProtocolIs(const IP_HDR* ip, const uint8_t* end, uint8_t protocol) {
  return ip && Captured(ip->Protocol, end) && ip->Protocol == protocol;
}

template <class T>
const T* After(const void* p, int offset) {
  return reinterpret_cast<const T*>(Bytes(p) + offset);
}

// Sum of n bytes as big-endian 16-bit words into an unfolded 32-bit sum; an odd last byte
// is the high byte of a word whose low byte is zero.
uint32_t SumWords(const uint8_t* p, uint32_t n) {
  uint32_t sum = 0;
  uint32_t i = 0;
  for (; i + 1 < n; i += 2) sum += uint32_t((p[i] << 8) | p[i + 1]);
  if (n & 1) sum += uint32_t(p[n - 1]) << 8;
  return sum;
}

uint16_t FoldAndComplement(uint32_t sum) {
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}

uint32_t PseudoHeader(const IP_HDR* ip, uint8_t protocol, uint32_t n) {
  const uint32_t src = be32(ip->SrcIP), dst = be32(ip->DstIP);
  return (src >> 16) + (src & 0xFFFF) + (dst >> 16) + (dst & 0xFFFF) + protocol + n;
}

// The transport checksums: sum the n bytes from `header`, take away the stored checksum
// (the same as summing with that field taken as zero when the range covers it), add the
// pseudo-header, fold and complement.
std::optional<uint16_t> TransportChecksum(const IP_HDR* ip, const void* header, const BE16& stored,
                                          int32_t n, uint8_t protocol, const uint8_t* end) {
  if (n < 0 || !Captured(ip->SrcIP, end) || !Captured(ip->DstIP, end) ||
      !Captured(stored, end) || !Captured(header, n, end))
    return std::nullopt;
  uint32_t sum = SumWords(Bytes(header), uint32_t(n));
  sum -= be16(stored);
  sum += PseudoHeader(ip, protocol, uint32_t(n));
  return FoldAndComplement(sum);
}
}  // namespace

bool GetIPHeader(const ETH_HDR* frame, const uint8_t* end, const IP_HDR** ip) {
  if (!EtherTypeIs(frame, end, 0x0800)) return false;
  if (ip) *ip = After<IP_HDR>(frame, sizeof(ETH_HDR));
  return true;
}

bool GetARPHeader(const ETH_HDR* frame, const uint8_t* end, const ARP_HDR** arp) {
  if (!EtherTypeIs(frame, end, 0x0806)) return false;
  if (arp) *arp = After<ARP_HDR>(frame, sizeof(ETH_HDR));
  return true;
}

bool GetICMPHeader(const IP_HDR* ip, const uint8_t* end, const ICMP_HDR** icmp) {
  if (!IPProtocolIs(ip, end, 1)) return false;
  if (icmp) *icmp = After<ICMP_HDR>(ip, IPHeaderLength);
  return true;
}

bool GetTCPHeader(const IP_HDR* ip, const uint8_t* end, const TCP_HDR** tcp) {
  if (!IPProtocolIs(ip, end, 6)) return false;
  if (tcp) *tcp = After<TCP_HDR>(ip, IPHeaderLength);
  return true;
}

bool GetUDPHeader(const IP_HDR* ip, const uint8_t* end, const UDP_HDR** udp) {
  if (!IPProtocolIs(ip, end, 17)) return false;
  if (udp) *udp = After<UDP_HDR>(ip, IPHeaderLength);
  return true;
}

bool GetTCPData(const IP_HDR* ip, const TCP_HDR* tcp, const uint8_t* end, const uint8_t** data,
                int32_t* len) {
  const uint8_t* start = nullptr;
  int32_t length = 0;
  if (Captured(ip->Len, end) && Captured(tcp->Off_Rsvd, end)) {
    const int32_t h = (tcp->Off_Rsvd >> 4) * 4;
    start = Bytes(tcp) + h;
    length = int32_t(be16(ip->Len)) - IPHeaderLength - h;
  }
  if (data) *data = start;
  if (len) *len = length;
  return length > 0;
}

bool GetUDPData(const IP_HDR*, const UDP_HDR* udp, const uint8_t* end, const uint8_t** data,
                int32_t* len) {
  const uint8_t* start = nullptr;
  int32_t length = 0;
  if (Captured(udp->Len, end)) {
    start = Bytes(udp) + sizeof(UDP_HDR);
    length = int32_t(be16(udp->Len)) - int32_t(sizeof(UDP_HDR));
  }
  if (data) *data = start;
  if (len) *len = length;
  return length > 0;
}

bool GetTCPOption(const TCP_HDR* tcp, const uint8_t* end, const uint8_t** options,
                  int32_t* len) {
  if (!Captured(tcp->Off_Rsvd, end)) {
    *options = nullptr;
    *len = 0;
    return false;
  }
  *options = Bytes(tcp) + sizeof(TCP_HDR);
  *len = (tcp->Off_Rsvd >> 4) * 4 - int32_t(sizeof(TCP_HDR));
  return *len > 0;
}

// Addresses are formatted by hand: the views build two to four of them for every row they
// show or export, and formatted printing costs several times as much as the digits.
std::string MacToStr(const uint8_t mac[6]) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  char buf[13];
  char* p = buf;
  for (int i = 0; i < 6; ++i) {
    if (i == 3) *p++ = '-';
    *p++ = Digits[mac[i] >> 4];
    *p++ = Digits[mac[i] & 0x0F];
  }
  return std::string(buf, sizeof buf);
}

std::string IPToStr(uint32_t addr) {
  char buf[15];
  char* p = buf;
  for (int shift = 24; shift >= 0; shift -= 8) {
    const unsigned octet = (addr >> shift) & 0xFF;
    if (octet >= 100) *p++ = char('0' + octet / 100);
    if (octet >= 10) *p++ = char('0' + octet / 10 % 10);
    *p++ = char('0' + octet % 10);
    if (shift) *p++ = '.';
  }
  return std::string(buf, size_t(p - buf));
}

std::optional<uint16_t> IPChecksum(const IP_HDR* ip, const uint8_t* end) {
  if (!Captured(*ip, end)) return std::nullopt;
  uint32_t sum = SumWords(Bytes(ip), sizeof(IP_HDR));
  sum -= be16(ip->Checksum);
  return FoldAndComplement(sum);
}

std::optional<uint16_t> TCPChecksum(const IP_HDR* ip, const TCP_HDR* tcp, const uint8_t* end) {
  if (!Captured(ip->Len, end)) return std::nullopt;
  return TransportChecksum(ip, tcp, tcp->Checksum, int32_t(be16(ip->Len)) - IPHeaderLength, 6,
                           end);
}

std::optional<uint16_t> UDPChecksum(const IP_HDR* ip, const UDP_HDR* udp, const uint8_t* end) {
  if (!Captured(udp->Len, end)) return std::nullopt;
  return TransportChecksum(ip, udp, udp->Checksum, int32_t(be16(udp->Len)), 17, end);
}
