// One frame, with whatever bytes and lengths a damaged file or a hostile sender gives it, held
// in a heap buffer of exactly its captured length so that AddressSanitizer sees the first read
// past it: the link-layer and network steps of every link type, decoded by type codes or with
// IPv6 and VLAN, the TCP option walk, the filing rule, every view's row and the payload pane.
//
// Input: seconds, microseconds, wire length, TCP data offset, UDP data offset (4 bytes each,
// little-endian), a byte choosing the link type (low seven bits) and the decoding (high bit),
// then the captured bytes; the captured length is their count.
#include <arpa/inet.h>
#include <cstdint>
#include <cstring>
#include <memory>
#include <new>

#include "fuzz/FuzzSupport.h"
#include "presentation/CellText.h"
#include "presentation/Filing.h"
#include "presentation/PayloadText.h"
#include "presentation/Views.h"

namespace {
// A frame as a row reads it, its bytes in an allocation that ends exactly at the last
// captured byte.
class ExactFrame {
 public:
  ExactFrame(const PCAP_PKTHDR& header, const uint8_t* bytes, int32_t linkType, bool deep)
      : Storage_(new uint8_t[header.caplen ? header.caplen : 1]) {
    if (header.caplen) std::memcpy(Storage_.get(), bytes, header.caplen);
    Frame_.Index = 1;
    Frame_.Readable = true;
    Frame_.LinkType = linkType;
    Frame_.Deep = deep;
    Frame_.PktHdr = header;
    Frame_.Bytes = Storage_.get();
  }
  const TFrame& Node() const { return Frame_; }

 private:
  std::unique_ptr<uint8_t[]> Storage_;
  TFrame Frame_;
};

// Option text comes only from captured option bytes: a data offset that claims options and
// at least the first of them within the frame.
void CheckOptions(const TPacketLayers& layers) {
  const TCP_HDR* tcp = layers.TCP();
  if (!tcp) return;
  std::string options;
  TCPOptionText(tcp, layers.End, options);
  if (!options.empty()) {
    FUZZ_CHECK(Captured(tcp->Off_Rsvd, layers.End) && tcp->Off_Rsvd >> 4 > 5);
    FUZZ_CHECK(layers.Transport + sizeof(TCP_HDR) < layers.End);
  }
}

// An IPv6 address reads as inet_ntop writes it.
void CheckAddressText(const TPacketLayers& layers) {
  if (layers.Network != TNetworkKind::IPv6) return;
  const auto* ip = reinterpret_cast<const IPV6_HDR*>(layers.NetworkHeader);
  if (!Captured(ip->SrcIP, layers.End)) return;
  char expected[INET6_ADDRSTRLEN];
  FUZZ_CHECK(inet_ntop(AF_INET6, ip->SrcIP, expected, sizeof expected));
  std::string text;
  IPv6Text(ip->SrcIP, text);
  FUZZ_CHECK(text == expected);
}

// The link types decoded, and one that is not.
constexpr int32_t LinkTypes[] = {1, 113, 276, 12, 101, 228, 229, 0, 108, 105, 127, 147};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  PCAP_PKTHDR header{};
  header.ts.tv_sec = in.Int32();
  header.ts.tv_usec = in.Int32();
  header.len = in.UInt32();
  const int32_t tcpOffset = in.Int32();
  const int32_t udpOffset = in.Int32();
  const uint8_t choice = in.Byte();
  const int32_t linkType = LinkTypes[(choice & 0x7F) % std::size(LinkTypes)];
  const bool deep = choice & 0x80;
  header.caplen = uint32_t(in.Rest().size());
  ExactFrame frame(header, in.Rest().data(), linkType, deep);
  const TFrame& node = frame.Node();
  const TPacketLayers layers = node.Layers();
  CheckOptions(layers);
  CheckAddressText(layers);

  // The filing rule and the rows agree: a view shows a full row exactly for the frames filed
  // into it, and no row for a position outside its list.
  const TListSet lists = FrameLists(layers);
  FUZZ_CHECK(lists & ListBit(viETH));
  const TPacketList one(&node, 1);
  TRowText row;
  for (int32_t view = 0; view < ViewCount; ++view) {
    ViewRowText(view, one, 0, tcpOffset, udpOffset, row);
    FUZZ_CHECK(row.Count() == ((lists & ListBit(view)) ? ViewColumnCount(view) : 0));
    for (int32_t position : {-1, 1}) {
      ViewRowText(view, one, position, tcpOffset, udpOffset, row);
      FUZZ_CHECK(row.Count() == 0);
    }
    const int32_t offset = PayloadOf(view) == TPayloadKind::TCP ? tcpOffset : udpOffset;
    if (HasPayloadPane(view)) CheckPayloadPane(view, node, offset);
    else FUZZ_CHECK(PayloadText(view, node, offset, false).empty() &&
                    PayloadText(view, node, offset, true).empty());
  }
  return 0;
}
