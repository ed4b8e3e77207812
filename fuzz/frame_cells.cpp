// One frame, with whatever bytes and lengths a damaged file or a hostile sender gives it, held
// in a heap buffer of exactly its captured length so that AddressSanitizer sees the first read
// past it: every cell routine with its header found at the usual place whatever the type codes
// say, the TCP option walk, the filing rule, every view's row and the payload pane.
//
// Input: seconds, microseconds, wire length, TCP data offset, UDP data offset (4 bytes each,
// little-endian), then the captured bytes; the captured length is their count.
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
constexpr size_t EthernetLength = sizeof(ETH_HDR);
constexpr size_t TransportAt = EthernetLength + IPHeaderLength;

// A frame as a row reads it, its bytes in an allocation that ends exactly at the last
// captured byte.
class ExactFrame {
 public:
  ExactFrame(const PCAP_PKTHDR& header, const uint8_t* bytes)
      : Storage_(new uint8_t[header.caplen ? header.caplen : 1]) {
    if (header.caplen) std::memcpy(Storage_.get(), bytes, header.caplen);
    Frame_.Index = 1;
    Frame_.Readable = true;
    Frame_.PktHdr = header;
    Frame_.Bytes = Storage_.get();
  }
  const TFrame& Node() const { return Frame_; }

 private:
  std::unique_ptr<uint8_t[]> Storage_;
  TFrame Frame_;
};

template <class T>
const T* At(const TFrame& node, size_t offset) {
  return reinterpret_cast<const T*>(node.Data() + offset);
}

// Each cell routine adds its fixed number of cells, captured or not.
void CheckCells(const TFrame& node, int32_t tcpOffset, int32_t udpOffset) {
  const uint8_t* end = node.DataEnd();
  const auto* ip = At<IP_HDR>(node, EthernetLength);
  const auto* tcp = At<TCP_HDR>(node, TransportAt);
  const auto* udp = At<UDP_HDR>(node, TransportAt);
  TRowText row;
  const auto added = [&](auto&& cells, size_t count) {
    row.Clear();
    cells();
    FUZZ_CHECK(row.Count() == count);
  };
  added([&] { FrameCells(row, node); }, 4);
  added([&] { EthernetCells(row, node.Frame(), end); }, 3);
  added([&] { IPCells(row, ip, end); }, 10);
  added([&] { ARPCells(row, At<ARP_HDR>(node, EthernetLength), end); }, 9);
  added([&] { ICMPCells(row, At<ICMP_HDR>(node, TransportAt), end); }, 4);
  added([&] { TCPCells(row, ip, tcp, end); }, 10);
  added([&] { UDPCells(row, ip, udp, end); }, 4);

  const uint8_t* payload = nullptr;
  int32_t length = 0;
  GetTCPData(ip, tcp, end, &payload, &length);
  added([&] { PayloadCells(row, payload, length, tcpOffset, node.Data(), end); }, 2);
  GetUDPData(ip, udp, end, &payload, &length);
  added([&] { PayloadCells(row, payload, length, udpOffset, node.Data(), end); }, 2);

  // Option text comes only from captured option bytes: a data offset that claims options and
  // at least the first of them within the frame.
  std::string options;
  TCPOptionText(tcp, end, options);
  if (!options.empty()) {
    FUZZ_CHECK(Captured(tcp->Off_Rsvd, end) && tcp->Off_Rsvd >> 4 > 5);
    FUZZ_CHECK(node.PktHdr.caplen > TransportAt + sizeof(TCP_HDR));
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  FuzzInput in(data, size);
  PCAP_PKTHDR header{};
  header.ts.tv_sec = in.Int32();
  header.ts.tv_usec = in.Int32();
  header.len = in.UInt32();
  const int32_t tcpOffset = in.Int32();
  const int32_t udpOffset = in.Int32();
  header.caplen = uint32_t(in.Rest().size());
  const ExactFrame frame(header, in.Rest().data());
  const TFrame& node = frame.Node();

  CheckCells(node, tcpOffset, udpOffset);

  // The filing rule and the rows agree: a view shows a full row exactly for the frames filed
  // into it, and no row for a position outside its list.
  const TListSet lists = FrameLists(node.Frame(), node.DataEnd());
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
    const int32_t offset = view == viTCP || view == viTCPData ? tcpOffset : udpOffset;
    if (HasPayloadPane(view)) CheckPayloadPane(view, node, offset);
    else FUZZ_CHECK(PayloadText(view, node, offset, false).empty() &&
                    PayloadText(view, node, offset, true).empty());
  }
  return 0;
}
