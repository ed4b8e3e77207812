#pragma once
// Where the headers of one captured frame lie, found once for every reader: the link-layer
// step turns the link type's own header into the link cells and an EtherType, and the network
// step finds the IPv4, IPv6 or ARP header and the transport header behind it.
//
// Two ways of decoding. By type codes (the default): a frame is filed by its EtherType and IP
// protocol alone, the transport header is always taken 20 bytes after the IPv4 header, and
// IPv6 and VLAN-tagged frames go no further than the link. Deep (the user's View > Decode
// IPv6 and VLAN): VLAN tags are stepped over, only a version-4 header is IPv4, the transport
// header lies at the IPv4 header length, a fragment other than the first has no transport
// header, and IPv6 is decoded through its extension headers.
//
// Bounds: as everywhere in the frame records, header pointers may lie at or past `End` (a
// header that was not captured is still located); the fields are read only when captured.
#include <climits>
#include <cstdint>
#include <optional>
#include <string>

#include "capture/QuarnFrame.h"

// The link types decoded, by the values pcap_datalink gives on Linux (a file's LINKTYPE_
// values are turned into these when it is read).
namespace linktype {
constexpr int32_t Null = 0;         // BSD loopback, address family in the writer's byte order
constexpr int32_t Ethernet = 1;
constexpr int32_t Raw = 12;         // raw IP; 14 on OpenBSD, 101 as a file's link type
constexpr int32_t RawOpenBSD = 14;
constexpr int32_t RawFile = 101;
constexpr int32_t Wireless = 105;   // IEEE 802.11
constexpr int32_t Loop = 108;       // OpenBSD loopback, address family in network order
constexpr int32_t Cooked = 113;     // Linux cooked capture ("any")
constexpr int32_t Radiotap = 127;   // IEEE 802.11 behind a radiotap header
constexpr int32_t IPv4 = 228;
constexpr int32_t IPv6 = 229;
constexpr int32_t Cooked2 = 276;    // Linux cooked capture, version 2
}  // namespace linktype

// True for the link types whose frames are decoded past the link header.
bool LinkTypeDecoded(int32_t linkType);

enum class TNetworkKind : uint8_t { None, IPv4, IPv6, ARP };

struct TPacketLayers {
  const uint8_t* End = nullptr;
  // Decoded with IPv6 and VLAN, or by type codes alone.
  bool Deep = false;
  // The link cells: a MAC address (6 captured bytes) or nullptr for an empty cell, and the
  // Protocol(x) value or -1 for an empty cell.
  const uint8_t* DstMac = nullptr;
  const uint8_t* SrcMac = nullptr;
  int32_t LinkProtocol = -1;

  TNetworkKind Network = TNetworkKind::None;
  // The IPv4 header (IP), the IPv6 fixed header (IPv6) or the ARP header (ARP).
  const uint8_t* NetworkHeader = nullptr;
  // IPv4 and IPv6: the upper-layer protocol (-1 when not captured), and the transport header
  // (nullptr when there is none: a fragment other than the first, a damaged header length).
  int32_t Protocol = -1;
  const uint8_t* Transport = nullptr;
  // The bytes from Transport to the end of the IP datagram as its length fields give them
  // (negative for fields that contradict each other); UnknownLength when they were not captured.
  static constexpr int32_t UnknownLength = INT32_MIN;
  int32_t TransportLength = UnknownLength;
  // IPv4: the header's length as decoded (always 20 by type codes).
  int32_t IPv4HeaderLength = IPHeaderLength;
  // IPv6: the fragment header's offset-and-flags field, when there is a fragment header.
  const uint8_t* FragmentField = nullptr;
  // Decoded with IPv6 and VLAN: the datagram is a fragment (IPv4 more-fragments or offset,
  // an IPv6 fragment header). Its transport checksum covers bytes other fragments carry, so
  // the checksum cells of a first fragment show the stored value without a verdict.
  bool Fragmented = false;
  // IPv6: where a routing header with segments left names the final destination, which the
  // transport checksum's pseudo-header takes in place of the header's destination.
  const uint8_t* FinalDestination = nullptr;
  // Decoded with IPv6 and VLAN: the VLAN tags stepped over, four bytes each from Tags (two of
  // tag control, then the type of what follows), TagCount of them.
  const uint8_t* Tags = nullptr;
  int32_t TagCount = 0;

  const IP_HDR* IP() const { return reinterpret_cast<const IP_HDR*>(NetworkHeader); }
  const ARP_HDR* ARP() const { return reinterpret_cast<const ARP_HDR*>(NetworkHeader); }
  bool IsIP() const { return Network == TNetworkKind::IPv4 || Network == TNetworkKind::IPv6; }
  // The transport header of protocol `protocol` (6 TCP, 17 UDP, 1 ICMP, 58 ICMPv6), or nullptr.
  template <class T>
  const T* TransportAs(int32_t protocol) const {
    return IsIP() && Protocol == protocol && Transport ? reinterpret_cast<const T*>(Transport)
                                                       : nullptr;
  }
  const TCP_HDR* TCP() const { return TransportAs<TCP_HDR>(6); }
  const UDP_HDR* UDP() const { return TransportAs<UDP_HDR>(17); }
  const ICMP_HDR* ICMP() const {
    return TransportAs<ICMP_HDR>(Network == TNetworkKind::IPv6 ? 58 : 1);
  }
};

// Decodes the `end - data` captured bytes of a frame of link type `linkType`.
void DecodeLayers(int32_t linkType, bool deep, const uint8_t* data, const uint8_t* end,
                  TPacketLayers& layers);

// ---- Payloads --------------------------------------------------------------------------------

// The TCP payload starts at the TCP header + data offset × 4 and is TransportLength − data
// offset × 4 bytes long; the UDP payload starts 8 bytes into the UDP header and is its length
// field − 8 bytes long. True when the length is above 0. When the fields that give it were
// not captured there is no length: *data becomes nullptr, *len 0, the result false.
inline bool TCPPayload(const TPacketLayers& layers, const uint8_t** data = nullptr,
                       int32_t* len = nullptr) {
  const TCP_HDR* tcp = layers.TCP();
  const uint8_t* start = nullptr;
  int32_t length = 0;
  if (tcp && layers.TransportLength != TPacketLayers::UnknownLength &&
      Captured(tcp->Off_Rsvd, layers.End)) {
    const int32_t h = (tcp->Off_Rsvd >> 4) * 4;
    start = layers.Transport + h;
    length = layers.TransportLength - h;
  }
  if (data) *data = start;
  if (len) *len = length;
  return length > 0;
}

inline bool UDPPayload(const TPacketLayers& layers, const uint8_t** data = nullptr,
                       int32_t* len = nullptr) {
  const UDP_HDR* udp = layers.UDP();
  const uint8_t* start = nullptr;
  int32_t length = 0;
  if (udp && Captured(udp->Len, layers.End)) {
    start = layers.Transport + sizeof(UDP_HDR);
    length = int32_t(be16(udp->Len)) - int32_t(sizeof(UDP_HDR));
  }
  if (data) *data = start;
  if (len) *len = length;
  return length > 0;
}


// ---- IPv6 -------------------------------------------------------------------------------------

// The fixed IPv6 header.
struct IPV6_HDR {
  uint8_t VersionClassFlow[4];
  BE16 PayloadLength;
  uint8_t NextHeader;
  uint8_t HopLimit;
  uint8_t SrcIP[16];
  uint8_t DstIP[16];
};
static_assert(sizeof(IPV6_HDR) == 40 && alignof(IPV6_HDR) == 1);

// An IPv6 address as inet_ntop writes it (RFC 5952: lower case, the longest run of zero groups
// as "::", an IPv4-mapped or -compatible address with its last four bytes dotted). Appends.
void IPv6Text(const uint8_t address[16], std::string& text);

// ---- Checksums --------------------------------------------------------------------------------

// The expected checksum of a transport header of `n` bytes from `header` (TCP, UDP, ICMPv6)
// with the pseudo-header of the frame's IPv4 or IPv6 header; empty when any summed byte, the
// stored checksum or an address was not captured, or n is negative.
std::optional<uint16_t> TransportChecksum(const TPacketLayers& layers, const void* header,
                                          const BE16& stored, int32_t n);
// Over the TCP header and payload (TransportLength bytes); over the UDP length's bytes.
std::optional<uint16_t> TCPChecksum(const TPacketLayers& layers, const TCP_HDR* tcp);
std::optional<uint16_t> UDPChecksum(const TPacketLayers& layers, const UDP_HDR* udp);
