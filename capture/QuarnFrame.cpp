#include "capture/QuarnFrame.h"

#include <cstdio>

namespace {
const uint8_t* Bytes(const void* p) { return static_cast<const uint8_t*>(p); }

uint16_t FoldAndComplement(uint32_t sum) {
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}
}  // namespace

uint32_t SumWords(const uint8_t* p, uint32_t n) {
  uint32_t sum = 0;
  uint32_t i = 0;
  for (; i + 1 < n; i += 2) sum += uint32_t((p[i] << 8) | p[i + 1]);
  if (n & 1) sum += uint32_t(p[n - 1]) << 8;
  return sum;
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

std::optional<uint16_t> IPChecksum(const IP_HDR* ip, const uint8_t* end, int32_t length) {
  if (length < int32_t(sizeof(IP_HDR)) || !Captured(ip, length, end)) return std::nullopt;
  uint32_t sum = SumWords(Bytes(ip), uint32_t(length));
  sum -= be16(ip->Checksum);
  return FoldAndComplement(sum);
}

