#include "presentation/Views.h"

#include "capture/FrameStore.h"
#include "presentation/CellText.h"
#include "presentation/PayloadText.h"

// ---- Column sets ------------------------------------------------------------------------------

namespace {
constexpr uint16_t InView(int32_t number) { return uint16_t(1u << number); }
// Views are numbered 2 to 9; a column visible in "every view" is visible wherever its group is.
constexpr uint16_t EveryView = 0x03FC;
constexpr uint16_t NotPayloadViews = EveryView & ~(InView(8) | InView(9));

// The samples are values as wide as the column usually needs. Hexadecimal ones are written
// with D, the widest hexadecimal digit in the usual fonts; a MAC address is six digits, a
// dash and six digits. Most TCP segments of a Linux host carry the time stamp option.
constexpr char MacSample[] = "DDDDDD-DDDDDD";
constexpr char AddressSample[] = "255.255.255.255";
constexpr char ChecksumSample[] = "DDDD(DDDD)";  // a checksum that differs from the computed one
constexpr char WordSample[] = "65535";


// ---- Cell writers -------------------------------------------------------------------------
//
// A field that was not captured (the frame was cut short by the snap length, or a damaged
// file) shows an empty cell: nothing is read at or past the frame's end, and an empty cell
// tells the user the byte is missing where a 0 would pass for a value. A checksum whose
// stored value was captured but whose range was not shows the stored value without a verdict.

using S = TSortKind;
using R = const TRowContext&;

template <class T>
bool Got(const T& field, R r) { return Captured(field, r.Layers.End); }
void Dec(const uint8_t& f, R r, std::string& c) { if (Got(f, r)) DecimalText(f, c); }
void Dec(const BE16& f, R r, std::string& c) { if (Got(f, r)) DecimalText(be16(f), c); }
void Hex(const uint8_t& f, int32_t digits, R r, std::string& c) { if (Got(f, r)) HexText(f, digits, c); }
void Hex(const BE16& f, int32_t digits, R r, std::string& c) { if (Got(f, r)) HexText(be16(f), digits, c); }
void Hex(const BE32& f, int32_t digits, R r, std::string& c) { if (Got(f, r)) HexText(be32(f), digits, c); }
void Mac(const uint8_t (&mac)[6], R r, std::string& c) { if (Got(mac, r)) c.append(MacToStr(mac)); }
void Address(const BE32& f, R r, std::string& c) { if (Got(f, r)) c.append(IPToStr(be32(f))); }
void Checksum(const BE16& stored, std::optional<uint16_t> computed, R r, std::string& c) {
  if (Got(stored, r)) ChecksumText(be16(stored), computed, c);
}

// Frame.
void IndexCell(R r, std::string& c) { DecimalText(r.Frame.Index, c); }
void TimeCell(R r, std::string& c) { TimeText(r.Frame.PktHdr.ts.tv_sec, r.Frame.PktHdr.ts.tv_usec, c); }
void CaptureCell(R r, std::string& c) { DecimalText(r.Frame.PktHdr.caplen, c); }
void LenCell(R r, std::string& c) { DecimalText(r.Frame.PktHdr.len, c); }

// Link: whatever the link type, the cells an Ethernet header would give.
void DstMacCell(R r, std::string& c) { if (r.Layers.DstMac) c.append(MacToStr(r.Layers.DstMac)); }
void SrcMacCell(R r, std::string& c) { if (r.Layers.SrcMac) c.append(MacToStr(r.Layers.SrcMac)); }
void LinkProtocolCell(R r, std::string& c) {
  if (r.Layers.LinkProtocol >= 0) HexText(uint32_t(r.Layers.LinkProtocol), 4, c);
}

// IP: an IPv4 header's fields, or their IPv6 counterparts.
const IP_HDR* V4(R r) { return r.Layers.Network == TNetworkKind::IPv4 ? r.Layers.IP() : nullptr; }
const IPV6_HDR* V6(R r) {
  return r.Layers.Network == TNetworkKind::IPv6
             ? reinterpret_cast<const IPV6_HDR*>(r.Layers.NetworkHeader) : nullptr;
}
void VerLenCell(R r, std::string& c) {
  if (const IP_HDR* ip = V4(r)) Hex(ip->VerLen, 2, r, c);
  else if (const IPV6_HDR* v6 = V6(r)) Hex(v6->VersionClassFlow[0], 2, r, c);
}
void ServiceCell(R r, std::string& c) {
  if (const IP_HDR* ip = V4(r)) Dec(ip->Service, r, c);
  else if (const IPV6_HDR* v6 = V6(r); v6 && Got(v6->VersionClassFlow[1], r))
    DecimalText((v6->VersionClassFlow[0] & 0x0F) << 4 | v6->VersionClassFlow[1] >> 4, c);
}
void IPLenCell(R r, std::string& c) {
  if (const IP_HDR* ip = V4(r)) Dec(ip->Len, r, c);
  else if (const IPV6_HDR* v6 = V6(r); v6 && Got(v6->PayloadLength, r))
    DecimalText(int32_t(sizeof(IPV6_HDR)) + be16(v6->PayloadLength), c);
}
void IdentCell(R r, std::string& c) {
  if (const IP_HDR* ip = V4(r)) Dec(ip->Ident, r, c);
  else if (const IPV6_HDR* v6 = V6(r); v6 && Got(v6->VersionClassFlow, r))
    DecimalText((v6->VersionClassFlow[1] & 0x0F) << 16 | v6->VersionClassFlow[2] << 8 |
                    v6->VersionClassFlow[3], c);
}
void FlagOffCell(R r, std::string& c) {
  if (const IP_HDR* ip = V4(r)) Hex(ip->FlagOff, 2, r, c);
  else if (V6(r) && r.Layers.FragmentField)
    Hex(*reinterpret_cast<const BE16*>(r.Layers.FragmentField), 4, r, c);
}
void TimeLiveCell(R r, std::string& c) {
  if (const IP_HDR* ip = V4(r)) Dec(ip->TimeLive, r, c);
  else if (const IPV6_HDR* v6 = V6(r)) Dec(v6->HopLimit, r, c);
}
void IPProtocolCell(R r, std::string& c) {
  if (const IP_HDR* ip = V4(r)) Hex(ip->Protocol, 2, r, c);
  else if (V6(r) && r.Layers.Protocol >= 0) HexText(uint32_t(r.Layers.Protocol), 2, c);
}
void IPChecksumCell(R r, std::string& c) {
  // IPv6 has no header checksum: the cell stays empty.
  if (const IP_HDR* ip = V4(r))
    Checksum(ip->Checksum, IPChecksum(ip, r.Layers.End, r.Layers.IPv4HeaderLength), r, c);
}
void SrcIPCell(R r, std::string& c) {
  if (const IP_HDR* ip = V4(r)) Address(ip->SrcIP, r, c);
  else if (const IPV6_HDR* v6 = V6(r); v6 && Got(v6->SrcIP, r)) IPv6Text(v6->SrcIP, c);
}
void DstIPCell(R r, std::string& c) {
  if (const IP_HDR* ip = V4(r)) Address(ip->DstIP, r, c);
  else if (const IPV6_HDR* v6 = V6(r); v6 && Got(v6->DstIP, r)) IPv6Text(v6->DstIP, c);
}

// ARP.
void HardwareTypeCell(R r, std::string& c) { Dec(r.ARP->HardwareType, r, c); }
void ProtocolTypeCell(R r, std::string& c) { Dec(r.ARP->ProtocolType, r, c); }
void HLenCell(R r, std::string& c) { Dec(r.ARP->HLen, r, c); }
void PLenCell(R r, std::string& c) { Dec(r.ARP->PLen, r, c); }
void OperationCell(R r, std::string& c) { Dec(r.ARP->Operation, r, c); }
void SenderHACell(R r, std::string& c) { Mac(r.ARP->SenderHA, r, c); }
void SenderIPCell(R r, std::string& c) { Address(r.ARP->SenderIP, r, c); }
void TargetHACell(R r, std::string& c) { Mac(r.ARP->TargetHA, r, c); }
void TargetIPCell(R r, std::string& c) { Address(r.ARP->TargetIP, r, c); }

// ICMP and ICMPv6. An ICMP checksum is shown as stored; ICMPv6's, which covers a
// pseudo-header as TCP's does, gets a verdict.
void TypeCell(R r, std::string& c) { Dec(r.ICMP->Type, r, c); }
void CodeCell(R r, std::string& c) { Dec(r.ICMP->Code, r, c); }
void ICMPChecksumCell(R r, std::string& c) {
  if (r.Layers.Network == TNetworkKind::IPv6)
    Checksum(r.ICMP->Checksum,
             TransportChecksum(r.Layers, r.ICMP, r.ICMP->Checksum, r.Layers.TransportLength), r, c);
  else
    Hex(r.ICMP->Checksum, 4, r, c);
}
// The group's Data column has never shown anything; it keeps its place in the row.
void NoCell(R, std::string&) {}

// TCP.
void TCPSrcPortCell(R r, std::string& c) { Dec(r.TCP->SrcPort, r, c); }
void TCPDstPortCell(R r, std::string& c) { Dec(r.TCP->DstPort, r, c); }
void SeqCell(R r, std::string& c) { Hex(r.TCP->Seq, 4, r, c); }
void AckCell(R r, std::string& c) { Hex(r.TCP->Ack, 4, r, c); }
void OffRsvdCell(R r, std::string& c) { Hex(r.TCP->Off_Rsvd, 2, r, c); }
void FlagsCell(R r, std::string& c) {
  if (!Got(r.TCP->Rsvd_Flags, r)) return;
  HexText(r.TCP->Rsvd_Flags, 2, c);
  TCPFlagText(r.TCP->Rsvd_Flags, c);
}
void WindowCell(R r, std::string& c) { Dec(r.TCP->Window, r, c); }
void TCPChecksumCell(R r, std::string& c) { Checksum(r.TCP->Checksum, TCPChecksum(r.Layers, r.TCP), r, c); }
void UrgPointCell(R r, std::string& c) { Dec(r.TCP->UrgPoint, r, c); }
void TCPOptionCell(R r, std::string& c) { TCPOptionText(r.TCP, r.Layers.End, c); }

// UDP.
void UDPSrcPortCell(R r, std::string& c) { Dec(r.UDP->SrcPort, r, c); }
void UDPDstPortCell(R r, std::string& c) { Dec(r.UDP->DstPort, r, c); }
void UDPLenCell(R r, std::string& c) { Dec(r.UDP->Len, r, c); }
void UDPChecksumCell(R r, std::string& c) { Checksum(r.UDP->Checksum, UDPChecksum(r.Layers, r.UDP), r, c); }

// Payload: the length, then the bytes from the Data offset on that lie within the frame.
void DataLenCell(R r, std::string& c) { if (r.Payload) DecimalText(r.PayloadLength, c); }
void DataCell(R r, std::string& c) {
  if (!r.Payload || r.DataOffset > r.PayloadLength) return;
  c.append(UpToZero(CapturedWindow(r.Frame.Data(), r.Layers.End, r.Payload, r.DataOffset,
                                   r.PayloadLength)));
}

constexpr TColumnSpec FrameGroup[] = {
    {"Index", 50, EveryView, "10000000", S::Number, IndexCell},
    {"Time", 100, NotPayloadViews, "00:00:00:000000", S::Time, TimeCell},
    {"Capture", 50, NotPayloadViews, WordSample, S::Number, CaptureCell},
    {"Len", 50, NotPayloadViews, WordSample, S::Number, LenCell},
};
constexpr TColumnSpec EthernetGroup[] = {
    {"DstMac", 100, InView(2), MacSample, S::Mac, DstMacCell},
    {"SrcMac", 100, InView(2), MacSample, S::Mac, SrcMacCell},
    {"Protocol(x)", 50, InView(2), "86DD", S::Hex, LinkProtocolCell},
};
constexpr TColumnSpec IPGroup[] = {
    {"VerLen(x)", 50, InView(3), "45", S::Hex, VerLenCell},
    {"Service", 50, InView(3), "255", S::Number, ServiceCell},
    {"Len", 50, InView(3), WordSample, S::Number, IPLenCell},
    {"Ident", 50, InView(3), WordSample, S::Number, IdentCell},
    {"FlagOff(x)", 50, InView(3), "4000", S::Hex, FlagOffCell},
    {"TimeLive", 50, InView(3), "255", S::Number, TimeLiveCell},
    {"Protocol(x)", 50, InView(3), "11", S::Hex, IPProtocolCell},
    {"Checksum(x)", 50, InView(3), ChecksumSample, S::Hex, IPChecksumCell},
    {"SrcIP", 100, EveryView, AddressSample, S::Address, SrcIPCell},
    {"DstIP", 100, EveryView, AddressSample, S::Address, DstIPCell},
};
constexpr TColumnSpec ARPGroup[] = {
    {"HardwareType", 50, EveryView, "1", S::Number, HardwareTypeCell},
    {"ProtocolType", 50, EveryView, "2048", S::Number, ProtocolTypeCell},
    {"HLen", 50, EveryView, "6", S::Number, HLenCell},
    {"PLen", 50, EveryView, "4", S::Number, PLenCell},
    {"Operation", 50, EveryView, "2", S::Number, OperationCell},
    {"SenderHA", 100, EveryView, MacSample, S::Mac, SenderHACell},
    {"SenderIP", 100, EveryView, AddressSample, S::Address, SenderIPCell},
    {"TargetHA", 100, EveryView, MacSample, S::Mac, TargetHACell},
    {"TargetIP", 100, EveryView, AddressSample, S::Address, TargetIPCell},
};
constexpr TColumnSpec ICMPGroup[] = {
    {"Type", 50, EveryView, "255", S::Number, TypeCell},
    {"Code", 50, EveryView, "255", S::Number, CodeCell},
    {"Checksum(x)", 50, EveryView, "DDDD", S::Hex, ICMPChecksumCell},
    {"Data", 100, EveryView, "", S::Text, NoCell},
};
constexpr TColumnSpec TCPGroup[] = {
    {"Src Port", 50, EveryView, WordSample, S::Number, TCPSrcPortCell},
    {"Dst Port", 50, EveryView, WordSample, S::Number, TCPDstPortCell},
    {"Seq(x)", 100, InView(6), "DDDDDDDD", S::Hex, SeqCell},
    {"Ack(x)", 100, InView(6), "DDDDDDDD", S::Hex, AckCell},
    {"Off_Rsvd(x)", 50, InView(6), "80", S::Hex, OffRsvdCell},
    {"Rsvd_Flags(x)", 50, InView(6), "19 ACK PSH FIN", S::Hex, FlagsCell},
    {"Window", 50, InView(6), WordSample, S::Number, WindowCell},
    {"Checksum(x)", 50, InView(6), ChecksumSample, S::Hex, TCPChecksumCell},
    {"UrgPoint", 50, InView(6), "0", S::Number, UrgPointCell},
    {"TCPOption", 100, InView(6), "NOP/NOP/TSOPT - Time Stamp Option", S::Text, TCPOptionCell},
};
constexpr TColumnSpec UDPGroup[] = {
    {"Src Port", 50, EveryView, WordSample, S::Number, UDPSrcPortCell},
    {"Dst Port", 50, EveryView, WordSample, S::Number, UDPDstPortCell},
    {"Len", 50, InView(7), WordSample, S::Number, UDPLenCell},
    {"Checksum(x)", 50, InView(7), ChecksumSample, S::Hex, UDPChecksumCell},
};
constexpr TColumnSpec TCPPayloadGroup[] = {
    {"TCPDataLen", 50, EveryView, "1460", S::Number, DataLenCell},
    {"Data", 100, EveryView, "", S::Text, DataCell},
};
// Narrower than the TCP payload's Data column, as users have always had it.
constexpr TColumnSpec UDPPayloadGroup[] = {
    {"UDPDataLen", 50, EveryView, "1472", S::Number, DataLenCell},
    {"Data", 50, EveryView, "", S::Text, DataCell},
};

constexpr std::span<const TColumnSpec> Groups[] = {
    FrameGroup, EthernetGroup,  IPGroup,         ARPGroup,        ICMPGroup,
    TCPGroup,   UDPGroup,       TCPPayloadGroup, UDPPayloadGroup,
};

constexpr int32_t ETHGroups[] = {1, 2};
constexpr int32_t IPGroups[] = {1, 2, 3};
constexpr int32_t ARPGroups[] = {1, 2, 4};
constexpr int32_t ICMPGroups[] = {1, 2, 3, 5};
constexpr int32_t TCPGroups[] = {1, 2, 3, 6, 8};
constexpr int32_t UDPGroups[] = {1, 2, 3, 7, 9};

}  // namespace

const std::array<TViewSpec, ViewCount> ViewSpecs = {{
    {2, "lvETH", "Ethernet", "Ethernet", ETHGroups, TPayloadKind::None, TViewFrames::Every},
    {3, "lvIP", "IP", "IP", IPGroups, TPayloadKind::None, TViewFrames::IP},
    {4, "lvARP", "ARP", "ARP", ARPGroups, TPayloadKind::None, TViewFrames::ARP},
    {5, "lvICMP", "ICMP", "ICMP", ICMPGroups, TPayloadKind::None, TViewFrames::ICMP},
    {6, "lvTCP", "TCP", "TCP", TCPGroups, TPayloadKind::TCP, TViewFrames::TCP},
    {7, "lvUDP", "UDP", "UDP", UDPGroups, TPayloadKind::UDP, TViewFrames::UDP},
    {8, "lvTCPData", "TCP Data", "TCPData", TCPGroups, TPayloadKind::TCP, TViewFrames::TCPData},
    {9, "lvUDPData", "UDP Data", "UDPData", UDPGroups, TPayloadKind::UDP, TViewFrames::UDPData},
}};

std::span<const TColumnSpec> ColumnGroup(int32_t group) {
  if (group < 1 || group > int32_t(std::size(Groups))) return {};
  return Groups[group - 1];
}

void TColumnArray::AddColumn(const std::string& caption, int32_t width, int32_t defaultWidth) {
  Columns_.push_back({caption, width, defaultWidth});
}
int32_t TColumnArray::ColumnCount() const { return int32_t(Columns_.size()); }
std::string TColumnArray::Caption(int32_t column) const { return Columns_.at(size_t(column)).Caption; }
int32_t TColumnArray::Width(int32_t column) const { return Columns_.at(size_t(column)).Width; }
void TColumnArray::SetWidth(int32_t column, int32_t width) { Columns_.at(size_t(column)).Width = width; }
int32_t TColumnArray::DefaultWidth(int32_t column) const {
  return Columns_.at(size_t(column)).DefaultWidth;
}

void AddColumnGroup(TColumnList& view, int32_t viewNumber, int32_t group) {
  const bool known = viewNumber >= 2 && viewNumber <= 9;
  for (const TColumnSpec& column : ColumnGroup(group)) {
    const int32_t width = view.DefaultWidthFor(column);
    const bool shown = known && (column.VisibleIn & InView(viewNumber));
    view.AddColumn(column.Caption, shown ? width : 0, width);
  }
}

void BuildViews(const std::array<TColumnList*, ViewCount>& views) {
  for (int32_t v = 0; v < ViewCount; ++v)
    for (int32_t group : ViewSpecs[size_t(v)].Groups)
      AddColumnGroup(*views[size_t(v)], ViewSpecs[size_t(v)].Number, group);
}

int32_t ColumnOfCaption(int32_t view, const std::string& caption, int32_t nth) {
  int32_t column = 0;
  for (int32_t group : ViewSpecs[size_t(view)].Groups)
    for (const TColumnSpec& groupColumn : ColumnGroup(group)) {
      if (groupColumn.Caption == caption && nth-- == 0) return column;
      ++column;
    }
  return -1;
}

const TColumnSpec* ViewColumn(int32_t view, int32_t column) {
  if (view < 0 || view >= ViewCount || column < 0) return nullptr;
  for (int32_t group : ViewSpecs[size_t(view)].Groups) {
    const std::span<const TColumnSpec> columns = ColumnGroup(group);
    if (size_t(column) < columns.size()) return &columns[size_t(column)];
    column -= int32_t(columns.size());
  }
  return nullptr;
}

std::vector<std::string> ColumnCaptions(int32_t view) {
  std::vector<std::string> captions;
  for (int32_t group : ViewSpecs[size_t(view)].Groups)
    for (const TColumnSpec& column : ColumnGroup(group)) captions.emplace_back(column.Caption);
  return captions;
}
