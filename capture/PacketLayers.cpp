#include "capture/PacketLayers.h"

#include <cstring>

namespace {
constexpr int32_t EtherIPv4 = 0x0800, EtherARP = 0x0806, EtherIPv6 = 0x86DD;

bool Has(const uint8_t* p, long n, const uint8_t* end) { return Captured(p, n, end); }
int32_t Get16(const uint8_t* p, const uint8_t* end) {
  return Has(p, 2, end) ? int32_t((p[0] << 8) | p[1]) : -1;
}
const uint8_t* MacAt(const uint8_t* p, const uint8_t* end) { return Has(p, 6, end) ? p : nullptr; }

bool IsVLANTag(int32_t type) { return type == 0x8100 || type == 0x88A8 || type == 0x9100; }

// The EtherType behind any number of VLAN tags at `network`, each four bytes: two of tag
// control, then the type of what follows. A tag whose type was not captured leaves none.
int32_t StepOverTags(int32_t type, const uint8_t*& network, const uint8_t* end) {
  while (IsVLANTag(type)) {
    type = Get16(network + 2, end);
    network += 4;
  }
  return type;
}

// The IP version a raw or loopback frame holds, as an EtherType: -1 when it is neither.
int32_t TypeOfVersion(const uint8_t* ip, const uint8_t* end) {
  if (!Has(ip, 1, end)) return -1;
  switch (ip[0] >> 4) {
    case 4: return EtherIPv4;
    case 6: return EtherIPv6;
    default: return -1;
  }
}

int32_t TypeOfFamily(uint32_t family) {
  switch (family) {
    case 2: return EtherIPv4;
    case 10:
    case 24:
    case 28:
    case 30: return EtherIPv6;
    default: return -1;
  }
}

// The 802.11 frame at `p`: its link cells, and the EtherType and network header of a data
// frame whose body starts with an LLC/SNAP header. `padded`: radiotap said the body starts at a
// multiple of four bytes.
int32_t Wireless(const uint8_t* p, const uint8_t* end, bool padded, TPacketLayers& layers,
                 const uint8_t*& network) {
  if (!Has(p, 2, end)) return -1;
  const uint8_t control = p[0], flags = p[1];
  const int32_t kind = (control >> 2) & 3, subtype = control >> 4;
  const uint8_t *a1 = p + 4, *a2 = p + 10, *a3 = p + 16, *a4 = p + 24;
  if (kind != 2) {
    // Management and control frames: the receiver and, where there is one, the transmitter.
    layers.DstMac = MacAt(a1, end);
    const bool receiverOnly = kind == 1 && (subtype == 0xC || subtype == 0xD);  // CTS, ACK
    if (!receiverOnly) layers.SrcMac = MacAt(a2, end);
    return -1;
  }
  const bool toDS = flags & 0x01, fromDS = flags & 0x02;
  layers.DstMac = MacAt(toDS ? a3 : a1, end);
  layers.SrcMac = MacAt(fromDS ? (toDS ? a4 : a3) : a2, end);
  long header = toDS && fromDS ? 30 : 24;
  const bool qos = subtype & 0x8;
  if (qos) header += 2;
  if (qos && (flags & 0x80)) header += 4;  // HT control
  if (padded) header = (header + 3) & ~3L;
  // Null data frames carry no body; a protected body cannot be read.
  if ((subtype & 0x4) || (flags & 0x40)) return -1;
  const uint8_t* llc = p + header;
  if (!Has(llc, 8, end) || llc[0] != 0xAA || llc[1] != 0xAA || llc[2] != 0x03 || llc[3] != 0 ||
      llc[4] != 0 || (llc[5] != 0 && llc[5] != 0xF8))
    return -1;
  network = llc + 8;
  const int32_t type = Get16(llc + 6, end);
  layers.LinkProtocol = type;
  return type;
}

// The radiotap header's length, and whether its flags field says the 802.11 body is padded.
bool Radiotap(const uint8_t* p, const uint8_t* end, const uint8_t*& frame, bool& padded) {
  if (!Has(p, 8, end)) return false;
  const uint32_t length = uint32_t(p[2] | (p[3] << 8));
  frame = p + length;
  padded = false;
  // The fields follow the presence words (more while bit 31 is set): TSFT (bit 0, eight
  // bytes at a multiple of eight) and then the flags byte (bit 1).
  const uint8_t* word = p + 4;
  const uint32_t first = uint32_t(word[0] | (word[1] << 8) | (word[2] << 16)) | uint32_t(word[3]) << 24;
  while (Has(word, 4, end) && (word[3] & 0x80) && word + 4 < frame) word += 4;
  size_t field = size_t(word + 4 - p);
  if (first & 0x1) field = ((field + 7) & ~size_t(7)) + 8;
  if ((first & 0x2) && p + field < frame && Has(p + field, 1, end)) padded = p[field] & 0x20;
  return true;
}

void DecodeIPv4(bool deep, const uint8_t* ip, const uint8_t* end, TPacketLayers& layers) {
  const IP_HDR* h = reinterpret_cast<const IP_HDR*>(ip);
  int32_t headerLength = IPHeaderLength;
  bool transport = true;
  if (deep) {
    if (!Has(ip, 1, end) || (ip[0] >> 4) != 4) return;
    headerLength = (ip[0] & 0x0F) * 4;
    transport = headerLength >= IPHeaderLength && Has(ip, headerLength, end) &&
                (be16(h->FlagOff) & 0x1FFF) == 0;
    layers.Fragmented = Captured(h->FlagOff, end) && (be16(h->FlagOff) & 0x3FFF) != 0;
  }
  layers.Network = TNetworkKind::IPv4;
  layers.NetworkHeader = ip;
  layers.IPv4HeaderLength = headerLength;
  if (Captured(h->Protocol, end)) layers.Protocol = h->Protocol;
  if (!transport) return;
  layers.Transport = ip + headerLength;
  if (Captured(h->Len, end)) layers.TransportLength = int32_t(be16(h->Len)) - headerLength;
}

void DecodeIPv6(const uint8_t* ip, const uint8_t* end, TPacketLayers& layers) {
  if (!Has(ip, 1, end) || (ip[0] >> 4) != 6) return;
  const IPV6_HDR* h = reinterpret_cast<const IPV6_HDR*>(ip);
  layers.Network = TNetworkKind::IPv6;
  layers.NetworkHeader = ip;
  if (!Captured(h->NextHeader, end)) return;
  int32_t next = h->NextHeader;
  const uint8_t* p = ip + sizeof(IPV6_HDR);
  bool first = true;
  for (;;) {
    long size = 0;
    if (next == 0 || next == 43 || next == 60) {
      if (!Has(p, 2, end)) return;
      size = (long(p[1]) + 1) * 8;
      // Routing types 0 and 2 list the addresses still to visit, the last being the final
      // destination; a segment routing header (4) lists them in reverse, the final first.
      if (next == 43 && Has(p, 4, end) && p[3] > 0) {
        const long addresses = (size - 8) / 16;
        if ((p[2] == 0 || p[2] == 2) && addresses > 0 && Has(p + 8, addresses * 16, end))
          layers.FinalDestination = p + 8 + (addresses - 1) * 16;
        else if (p[2] == 4 && addresses > 0 && Has(p + 8, 16, end))
          layers.FinalDestination = p + 8;
      }
    } else if (next == 51) {
      if (!Has(p, 2, end)) return;
      size = (long(p[1]) + 2) * 4;
    } else if (next == 44) {
      if (!Has(p, 4, end)) return;
      layers.FragmentField = p + 2;
      layers.Fragmented = true;
      first = (Get16(p + 2, end) >> 3) == 0;
      size = 8;
    } else {
      break;
    }
    next = p[0];
    p += size;
  }
  layers.Protocol = next;
  if (!first) return;
  layers.Transport = p;
  if (Captured(h->PayloadLength, end))
    layers.TransportLength = int32_t(be16(h->PayloadLength)) - int32_t(p - ip - sizeof(IPV6_HDR));
}
}  // namespace

bool LinkTypeDecoded(int32_t linkType) {
  switch (linkType) {
    case linktype::Null:
    case linktype::Ethernet:
    case linktype::Raw:
    case linktype::RawOpenBSD:
    case linktype::RawFile:
    case linktype::Wireless:
    case linktype::Loop:
    case linktype::Cooked:
    case linktype::Radiotap:
    case linktype::IPv4:
    case linktype::IPv6:
    case linktype::Cooked2: return true;
    default: return false;
  }
}

void DecodeLayers(int32_t linkType, bool deep, const uint8_t* data, const uint8_t* end,
                  TPacketLayers& layers) {
  layers = TPacketLayers{};
  layers.End = end;
  layers.Deep = deep;
  int32_t type = -1;
  const uint8_t* network = data;
  switch (linkType) {
    case linktype::Ethernet:
      layers.DstMac = MacAt(data, end);
      layers.SrcMac = MacAt(data + 6, end);
      layers.LinkProtocol = type = Get16(data + 12, end);
      network = data + sizeof(ETH_HDR);
      break;
    case linktype::Cooked:
      // Packet type, ARPHRD type, address length, eight bytes of address, protocol.
      if (Get16(data + 4, end) == 6) layers.SrcMac = MacAt(data + 6, end);
      layers.LinkProtocol = type = Get16(data + 14, end);
      network = data + 16;
      break;
    case linktype::Cooked2:
      // Protocol, reserved, interface index, ARPHRD type, packet type, address length, address.
      if (Has(data + 11, 1, end) && data[11] == 6) layers.SrcMac = MacAt(data + 12, end);
      layers.LinkProtocol = type = Get16(data, end);
      network = data + 20;
      break;
    case linktype::Raw:
    case linktype::RawOpenBSD:
    case linktype::RawFile: layers.LinkProtocol = type = TypeOfVersion(data, end); break;
    case linktype::IPv4: layers.LinkProtocol = type = EtherIPv4; break;
    case linktype::IPv6: layers.LinkProtocol = type = EtherIPv6; break;
    case linktype::Null:
    case linktype::Loop:
      if (Has(data, 4, end)) {
        uint32_t family = uint32_t(data[0]) << 24 | uint32_t(data[1]) << 16 |
                          uint32_t(data[2]) << 8 | data[3];
        // NULL keeps the writer's byte order: a family is a small number, so a value with
        // only its high bytes set was written the other way round.
        if (linkType == linktype::Null && (family & 0xFFFF0000))
          family = __builtin_bswap32(family);
        layers.LinkProtocol = type = TypeOfFamily(family);
      }
      network = data + 4;
      break;
    case linktype::Wireless: type = Wireless(data, end, false, layers, network); break;
    case linktype::Radiotap: {
      const uint8_t* frame = nullptr;
      bool padded = false;
      if (Radiotap(data, end, frame, padded)) type = Wireless(frame, end, padded, layers, network);
      break;
    }
    default: return;
  }
  if (deep && (linkType == linktype::Ethernet || linkType == linktype::Cooked ||
               linkType == linktype::Cooked2)) {
    layers.Tags = network;
    type = StepOverTags(type, network, end);
    layers.TagCount = int32_t((network - layers.Tags) / 4);
  }
  switch (type) {
    case EtherIPv4: DecodeIPv4(deep, network, end, layers); break;
    case EtherIPv6:
      if (deep) DecodeIPv6(network, end, layers);
      break;
    case EtherARP:
      layers.Network = TNetworkKind::ARP;
      layers.NetworkHeader = network;
      break;
    default: break;
  }
}

// ---- Payloads --------------------------------------------------------------------------------

// ---- IPv6 -------------------------------------------------------------------------------------

void IPv6Text(const uint8_t address[16], std::string& text) {
  static constexpr char Digits[] = "0123456789abcdef";
  uint16_t words[8];
  for (int i = 0; i < 8; ++i) words[i] = uint16_t(address[2 * i] << 8 | address[2 * i + 1]);
  // The longest run of two or more zero words (the first of equal ones) becomes "::".
  int best = -1, bestLength = 0;
  for (int i = 0; i < 8;) {
    if (words[i]) {
      ++i;
      continue;
    }
    int j = i;
    while (j < 8 && !words[j]) ++j;
    if (j - i > bestLength) best = i, bestLength = j - i;
    i = j;
  }
  if (bestLength < 2) best = -1;
  // ::a.b.c.d and ::ffff:a.b.c.d end with the IPv4 address, as inet_ntop writes them.
  const bool dotted = best == 0 && (bestLength == 6 || (bestLength == 5 && words[5] == 0xFFFF));
  for (int i = 0; i < 8; ++i) {
    if (best >= 0 && i >= best && i < best + bestLength) {
      if (i == best) text.push_back(':');
      continue;
    }
    if (i) text.push_back(':');
    if (dotted && i == 6) {
      text.append(IPToStr(uint32_t(address[12]) << 24 | uint32_t(address[13]) << 16 |
                          uint32_t(address[14]) << 8 | address[15]));
      break;
    }
    bool started = false;
    for (int shift = 12; shift >= 0; shift -= 4) {
      const int digit = (words[i] >> shift) & 0xF;
      if (digit || started || shift == 0) {
        text.push_back(Digits[digit]);
        started = true;
      }
    }
  }
  if (best >= 0 && best + bestLength == 8) text.push_back(':');
}

// ---- Checksums --------------------------------------------------------------------------------

std::optional<uint16_t> TransportChecksum(const TPacketLayers& layers, const void* header,
                                          const BE16& stored, int32_t n) {
  const uint8_t* end = layers.End;
  if (layers.Fragmented || n < 0 || !Captured(stored, end) || !Captured(header, n, end)) return std::nullopt;
  uint32_t pseudo = uint32_t(layers.Protocol) + uint32_t(n);
  if (layers.Network == TNetworkKind::IPv4) {
    const IP_HDR* ip = layers.IP();
    if (!Captured(ip->SrcIP, end) || !Captured(ip->DstIP, end)) return std::nullopt;
    pseudo += SumWords(ip->SrcIP.b, 4) + SumWords(ip->DstIP.b, 4);
  } else if (layers.Network == TNetworkKind::IPv6) {
    const auto* ip = reinterpret_cast<const IPV6_HDR*>(layers.NetworkHeader);
    if (!Captured(ip->SrcIP, end) || !Captured(ip->DstIP, end)) return std::nullopt;
    // The upper-layer length is a 32-bit field there: its high word counts too.
    const uint8_t* destination = layers.FinalDestination ? layers.FinalDestination : ip->DstIP;
    pseudo += SumWords(ip->SrcIP, 16) + SumWords(destination, 16) - uint32_t(n) +
              (uint32_t(n) >> 16) + (uint32_t(n) & 0xFFFF);
  } else {
    return std::nullopt;
  }
  // Sum the range, take away the stored checksum (the same as summing with that field taken
  // as zero when the range covers it), add the pseudo-header, fold and complement.
  uint32_t sum = SumWords(static_cast<const uint8_t*>(header), uint32_t(n));
  sum -= be16(stored);
  sum += pseudo;
  while (sum > 0xFFFF) sum = (sum & 0xFFFF) + (sum >> 16);
  return uint16_t(~sum);
}

std::optional<uint16_t> TCPChecksum(const TPacketLayers& layers, const TCP_HDR* tcp) {
  if (layers.TransportLength == TPacketLayers::UnknownLength) return std::nullopt;
  return TransportChecksum(layers, tcp, tcp->Checksum, layers.TransportLength);
}

std::optional<uint16_t> UDPChecksum(const TPacketLayers& layers, const UDP_HDR* udp) {
  if (!Captured(udp->Len, layers.End)) return std::nullopt;
  // Over IPv4 a zero checksum means the sender computed none. Decoded by type codes the cell
  // has always shown what a correct sender would have sent beside it; decoded as it is, the
  // datagram has no checksum to judge.
  if (layers.Deep && layers.Network == TNetworkKind::IPv4 && Captured(udp->Checksum, layers.End) &&
      be16(udp->Checksum) == 0)
    return std::nullopt;
  return TransportChecksum(layers, udp, udp->Checksum, int32_t(be16(udp->Len)));
}
