#include "presentation/Common.h"

#include <algorithm>
#include <charconv>
#include <cstring>
#include <string_view>

#include "presentation/QuarnTCPOption.h"

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

constexpr TColumnSpec FrameGroup[] = {
    {"Index", 50, EveryView, "10000000"},
    {"Time", 100, NotPayloadViews, "00:00:00:000000"},
    {"Capture", 50, NotPayloadViews, WordSample},
    {"Len", 50, NotPayloadViews, WordSample},
};
constexpr TColumnSpec EthernetGroup[] = {
    {"DstMac", 100, InView(2), MacSample},
    {"SrcMac", 100, InView(2), MacSample},
    {"Protocol(x)", 50, InView(2), "86DD"},
};
constexpr TColumnSpec IPGroup[] = {
    {"VerLen(x)", 50, InView(3), "45"},
    {"Service", 50, InView(3), "255"},
    {"Len", 50, InView(3), WordSample},
    {"Ident", 50, InView(3), WordSample},
    {"FlagOff(x)", 50, InView(3), "4000"},
    {"TimeLive", 50, InView(3), "255"},
    {"Protocol(x)", 50, InView(3), "11"},
    {"Checksum(x)", 50, InView(3), ChecksumSample},
    {"SrcIP", 100, EveryView, AddressSample},
    {"DstIP", 100, EveryView, AddressSample},
};
constexpr TColumnSpec ARPGroup[] = {
    {"HardwareType", 50, EveryView, "1"},
    {"ProtocolType", 50, EveryView, "2048"},
    {"HLen", 50, EveryView, "6"},
    {"PLen", 50, EveryView, "4"},
    {"Operation", 50, EveryView, "2"},
    {"SenderHA", 100, EveryView, MacSample},
    {"SenderIP", 100, EveryView, AddressSample},
    {"TargetHA", 100, EveryView, MacSample},
    {"TargetIP", 100, EveryView, AddressSample},
};
constexpr TColumnSpec ICMPGroup[] = {
    {"Type", 50, EveryView, "255"},
    {"Code", 50, EveryView, "255"},
    {"Checksum(x)", 50, EveryView, "DDDD"},
    {"Data", 100, EveryView, ""},
};
constexpr TColumnSpec TCPGroup[] = {
    {"Src Port", 50, EveryView, WordSample},
    {"Dst Port", 50, EveryView, WordSample},
    {"Seq(x)", 100, InView(6), "DDDDDDDD"},
    {"Ack(x)", 100, InView(6), "DDDDDDDD"},
    {"Off_Rsvd(x)", 50, InView(6), "80"},
    {"Rsvd_Flags(x)", 50, InView(6), "19 ACK PSH FIN"},
    {"Window", 50, InView(6), WordSample},
    {"Checksum(x)", 50, InView(6), ChecksumSample},
    {"UrgPoint", 50, InView(6), "0"},
    {"TCPOption", 100, InView(6), "NOP/NOP/TSOPT - Time Stamp Option"},
};
constexpr TColumnSpec UDPGroup[] = {
    {"Src Port", 50, EveryView, WordSample},
    {"Dst Port", 50, EveryView, WordSample},
    {"Len", 50, InView(7), WordSample},
    {"Checksum(x)", 50, InView(7), ChecksumSample},
};
constexpr TColumnSpec TCPPayloadGroup[] = {
    {"TCPDataLen", 50, EveryView, "1460"},
    {"Data", 100, EveryView, ""},
};
// Narrower than the TCP payload's Data column, as users have always had it.
constexpr TColumnSpec UDPPayloadGroup[] = {
    {"UDPDataLen", 50, EveryView, "1472"},
    {"Data", 50, EveryView, ""},
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
    {2, "lvETH", "Ethernet", "Ethernet", ETHGroups},
    {3, "lvIP", "IP", "IP", IPGroups},
    {4, "lvARP", "ARP", "ARP", ARPGroups},
    {5, "lvICMP", "ICMP", "ICMP", ICMPGroups},
    {6, "lvTCP", "TCP", "TCP", TCPGroups},
    {7, "lvUDP", "UDP", "UDP", UDPGroups},
    {8, "lvTCPData", "TCP Data", "TCPData", TCPGroups},
    {9, "lvUDPData", "UDP Data", "UDPData", UDPGroups},
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

// ---- Texts of numbers and fields --------------------------------------------------------------

void DecimalText(int64_t value, std::string& text) {
  char buf[24];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  text.append(buf, result.ptr);
}

void HexText(uint32_t value, int32_t digits, std::string& text) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  char buf[8];
  int32_t n = 0;
  do {
    buf[n++] = Digits[value & 0xF];
    value >>= 4;
  } while (value);
  for (int32_t i = n; i < digits; ++i) text.push_back('0');
  while (n) text.push_back(buf[--n]);
}

namespace {
// "%Nd" with every blank then turned into "0": the decimal, zero-filled in front to `width`
// characters (a minus sign, which only a damaged file can bring, stays where %d put it).
void ZeroFilled(int64_t value, int32_t width, std::string& text) {
  char buf[24];
  const auto result = std::to_chars(buf, buf + sizeof buf, value);
  for (int64_t i = result.ptr - buf; i < width; ++i) text.push_back('0');
  text.append(buf, result.ptr);
}
}  // namespace

void TimeText(int32_t sec, int32_t usec, std::string& text) {
  // Seconds since midnight UTC; a time before 1970 is taken as its unsigned 32-bit value.
  const uint32_t s = uint32_t(sec) % 86400;
  ZeroFilled(s / 3600, 2, text);
  text.push_back(':');
  ZeroFilled(s % 3600 / 60, 2, text);
  text.push_back(':');
  ZeroFilled(s % 60, 2, text);
  text.push_back(':');
  ZeroFilled(usec, 6, text);
}

void ChecksumText(uint16_t stored, std::optional<uint16_t> computed, std::string& text) {
  HexText(stored, 4, text);
  if (computed && *computed != stored) {
    text.push_back('(');
    HexText(*computed, 4, text);
    text.push_back(')');
  }
}

void TCPFlagText(uint8_t flags, std::string& text) {
  // CWR (0x80) and ECE (0x40) are newer than this list and are shown by the hex digits only.
  static constexpr struct {
    uint8_t Bit;
    const char* Name;
  } Flags[] = {{0x20, " URG"}, {0x10, " ACK"}, {0x08, " PSH"},
               {0x04, " RST"}, {0x02, " SYN"}, {0x01, " FIN"}};
  for (const auto& flag : Flags)
    if (flags & flag.Bit) text.append(flag.Name);
}

void TCPOptionText(const TCP_HDR* tcp, const uint8_t* end, std::string& text) {
  const uint8_t* p = nullptr;
  int32_t left = 0;
  if (!GetTCPOption(tcp, end, &p, &left)) return;
  // The data offset may claim options that were not captured (a snap length, a damaged
  // file): the walk stops at the last captured byte. Options beyond it are not shown, and
  // one that straddles it counts as cut short, which ends the walk like any truncated option.
  left = p < end ? int32_t(std::min<ptrdiff_t>(left, end - p)) : 0;
  TQuarnTCPOption option{};
  const size_t start = text.size();
  while (int32_t taken = DecodeTCPOption(p, left, option)) {
    if (text.size() != start) text.push_back('/');
    text.append(option.Name, strnlen(option.Name, sizeof option.Name));
    // An MSS shorter than 4 bytes or a Window Scale shorter than 3 carries no complete value;
    // the record would still hold bytes of an earlier option, so such an option shows its
    // name alone rather than a number it does not contain.
    if (option.Kind == 2 && option.Length >= 4) {
      text.push_back('(');
      DecimalText((option.Value[0] << 8) | option.Value[1], text);
      text.push_back(')');
    } else if (option.Kind == 3 && option.Length >= 3) {
      text.append("(multiply by ");
      DecimalText(int32_t(uint32_t(1) << (option.Value[0] % 32)), text);
      text.push_back(')');
    }
    p += taken;
    left -= taken;
  }
}

// ---- Cells ------------------------------------------------------------------------------------
//
// A field that was not captured (the frame was cut short by the snap length, or a damaged
// file) shows an empty cell: nothing is read at or past `end`, and an empty cell tells the
// user the byte is missing where a 0 would pass for a value. The row keeps all its columns.
// A checksum whose stored value was captured but whose range was not shows the stored value
// without a verdict.

namespace {
void Decimal(TRowText& row, const uint8_t& field, const uint8_t* end) {
  std::string& cell = row.Add();
  if (Captured(field, end)) DecimalText(field, cell);
}
void Decimal(TRowText& row, const BE16& field, const uint8_t* end) {
  std::string& cell = row.Add();
  if (Captured(field, end)) DecimalText(be16(field), cell);
}
void Hex(TRowText& row, const uint8_t& field, int32_t digits, const uint8_t* end) {
  std::string& cell = row.Add();
  if (Captured(field, end)) HexText(field, digits, cell);
}
void Hex(TRowText& row, const BE16& field, int32_t digits, const uint8_t* end) {
  std::string& cell = row.Add();
  if (Captured(field, end)) HexText(be16(field), digits, cell);
}
void Hex(TRowText& row, const BE32& field, int32_t digits, const uint8_t* end) {
  std::string& cell = row.Add();
  if (Captured(field, end)) HexText(be32(field), digits, cell);
}
void Mac(TRowText& row, const uint8_t (&mac)[6], const uint8_t* end) {
  std::string& cell = row.Add();
  if (Captured(mac, end)) cell.append(MacToStr(mac));
}
void Address(TRowText& row, const BE32& field, const uint8_t* end) {
  std::string& cell = row.Add();
  if (Captured(field, end)) cell.append(IPToStr(be32(field)));
}
void Checksum(TRowText& row, const BE16& stored, std::optional<uint16_t> computed,
              const uint8_t* end) {
  std::string& cell = row.Add();
  if (Captured(stored, end)) ChecksumText(be16(stored), computed, cell);
}

// The bytes from payload + from up to payload + to that lie within [frame, end). A negative
// data offset may reach in front of the payload: the window then starts no earlier than the
// first byte of the frame (the headers show as text), never before it. A length field that
// claims more than was captured ends the window at the last captured byte.
std::string_view CapturedWindow(const uint8_t* frame, const uint8_t* end, const uint8_t* payload,
                                int64_t from, int64_t to) {
  const int64_t base = payload - frame;
  const int64_t first = std::max<int64_t>(base + from, 0);
  const int64_t last = std::min<int64_t>(base + to, end - frame);
  if (first >= last) return {};
  return {reinterpret_cast<const char*>(frame + first), size_t(last - first)};
}

// Text shows an 8-bit string up to its first zero byte, as the list and the payload pane
// always have; the cut is made here so that every consumer of the text shows the same.
std::string_view UpToZero(std::string_view bytes) {
  if (bytes.empty()) return bytes;
  const auto* zero = static_cast<const char*>(std::memchr(bytes.data(), 0, bytes.size()));
  return zero ? bytes.substr(0, size_t(zero - bytes.data())) : bytes;
}
}  // namespace

void FrameCells(TRowText& row, const TQuarnNode& node) {
  DecimalText(node.Index, row.Add());
  TimeText(node.PktHdr.ts.tv_sec, node.PktHdr.ts.tv_usec, row.Add());
  DecimalText(node.PktHdr.caplen, row.Add());
  DecimalText(node.PktHdr.len, row.Add());
}

void EthernetCells(TRowText& row, const ETH_HDR* eth, const uint8_t* end) {
  Mac(row, eth->DstMac, end);
  Mac(row, eth->SrcMac, end);
  Hex(row, eth->Protocol, 4, end);
}

void IPCells(TRowText& row, const IP_HDR* ip, const uint8_t* end) {
  Hex(row, ip->VerLen, 2, end);
  Decimal(row, ip->Service, end);
  Decimal(row, ip->Len, end);
  Decimal(row, ip->Ident, end);
  Hex(row, ip->FlagOff, 2, end);
  Decimal(row, ip->TimeLive, end);
  Hex(row, ip->Protocol, 2, end);
  Checksum(row, ip->Checksum, IPChecksum(ip, end), end);
  Address(row, ip->SrcIP, end);
  Address(row, ip->DstIP, end);
}

void ARPCells(TRowText& row, const ARP_HDR* arp, const uint8_t* end) {
  Decimal(row, arp->HardwareType, end);
  Decimal(row, arp->ProtocolType, end);
  Decimal(row, arp->HLen, end);
  Decimal(row, arp->PLen, end);
  Decimal(row, arp->Operation, end);
  Mac(row, arp->SenderHA, end);
  Address(row, arp->SenderIP, end);
  Mac(row, arp->TargetHA, end);
  Address(row, arp->TargetIP, end);
}

void ICMPCells(TRowText& row, const ICMP_HDR* icmp, const uint8_t* end) {
  Decimal(row, icmp->Type, end);
  Decimal(row, icmp->Code, end);
  Hex(row, icmp->Checksum, 4, end);
  // The group's Data column has never shown anything; it keeps its place in the row.
  row.Add();
}

void TCPCells(TRowText& row, const IP_HDR* ip, const TCP_HDR* tcp, const uint8_t* end) {
  Decimal(row, tcp->SrcPort, end);
  Decimal(row, tcp->DstPort, end);
  Hex(row, tcp->Seq, 4, end);
  Hex(row, tcp->Ack, 4, end);
  Hex(row, tcp->Off_Rsvd, 2, end);
  std::string& flags = row.Add();
  if (Captured(tcp->Rsvd_Flags, end)) {
    HexText(tcp->Rsvd_Flags, 2, flags);
    TCPFlagText(tcp->Rsvd_Flags, flags);
  }
  Decimal(row, tcp->Window, end);
  Checksum(row, tcp->Checksum, TCPChecksum(ip, tcp, end), end);
  Decimal(row, tcp->UrgPoint, end);
  TCPOptionText(tcp, end, row.Add());
}

void UDPCells(TRowText& row, const IP_HDR* ip, const UDP_HDR* udp, const uint8_t* end) {
  Decimal(row, udp->SrcPort, end);
  Decimal(row, udp->DstPort, end);
  Decimal(row, udp->Len, end);
  Checksum(row, udp->Checksum, UDPChecksum(ip, udp, end), end);
}

void PayloadCells(TRowText& row, const uint8_t* payload, int32_t length, int32_t offset,
                  const uint8_t* frame, const uint8_t* end) {
  std::string& lengthCell = row.Add();
  if (payload) DecimalText(length, lengthCell);
  std::string& data = row.Add();
  if (!payload || offset > length) return;
  data.append(UpToZero(CapturedWindow(frame, end, payload, offset, length)));
}

// ---- Rows -------------------------------------------------------------------------------------

namespace {
// The stored frame of a row, found for its view.
struct TRowFrame {
  const TQuarnNode* Node = nullptr;
  const uint8_t* End = nullptr;
  const IP_HDR* IP = nullptr;

  // Clears the row and takes the frame at `position`; false when there is none.
  bool Take(TPacketList list, int32_t position, TRowText& row) {
    row.Clear();
    if (position < 0 || size_t(position) >= list.size() || !list[size_t(position)]) return false;
    Node = list[size_t(position)];
    End = Node->DataEnd();
    return true;
  }
  // The same, for a frame that must carry IPv4.
  bool TakeIP(TPacketList list, int32_t position, TRowText& row) {
    return Take(list, position, row) && GetIPHeader(Node->Frame(), End, &IP);
  }
  // Index to Protocol(x), with which every row begins.
  void FrameAndEthernetCells(TRowText& row) const {
    FrameCells(row, *Node);
    EthernetCells(row, Node->Frame(), End);
  }
};

// The TCP and UDP rows, and those of their Data views, which show only frames that carry a
// payload.
template <class THeader, bool (*GetHeader)(const IP_HDR*, const uint8_t*, const THeader**),
          bool (*GetData)(const IP_HDR*, const THeader*, const uint8_t*, const uint8_t**,
                          int32_t*),
          void (*HeaderCells)(TRowText&, const IP_HDR*, const THeader*, const uint8_t*)>
void TransportRow(TPacketList list, int32_t position, int32_t offset, bool payloadRequired,
                  TRowText& row) {
  TRowFrame f;
  const THeader* header = nullptr;
  if (!f.TakeIP(list, position, row) || !GetHeader(f.IP, f.End, &header)) return;
  const uint8_t* payload = nullptr;
  int32_t length = 0;
  if (!GetData(f.IP, header, f.End, &payload, &length) && payloadRequired) return;
  f.FrameAndEthernetCells(row);
  IPCells(row, f.IP, f.End);
  HeaderCells(row, f.IP, header, f.End);
  // The list never shows more payload than the IP datagram holds after its own header and
  // this one, whatever the transport header claims. The IP length lies in front of the
  // transport length fields, so it was captured whenever the payload length is known.
  if (payload)
    length = std::min(length, int32_t(be16(f.IP->Len)) - IPHeaderLength - int32_t(sizeof(THeader)));
  PayloadCells(row, payload, length, offset, f.Node->Data(), f.End);
}
constexpr auto TCPRow = TransportRow<TCP_HDR, GetTCPHeader, GetTCPData, TCPCells>;
constexpr auto UDPRow = TransportRow<UDP_HDR, GetUDPHeader, GetUDPData, UDPCells>;
}  // namespace

void ETHRowText(TPacketList list, int32_t position, TRowText& row) {
  TRowFrame f;
  if (f.Take(list, position, row)) f.FrameAndEthernetCells(row);
}

void IPRowText(TPacketList list, int32_t position, TRowText& row) {
  TRowFrame f;
  if (!f.TakeIP(list, position, row)) return;
  f.FrameAndEthernetCells(row);
  IPCells(row, f.IP, f.End);
}

void ARPRowText(TPacketList list, int32_t position, TRowText& row) {
  TRowFrame f;
  const ARP_HDR* arp = nullptr;
  if (!f.Take(list, position, row) || !GetARPHeader(f.Node->Frame(), f.End, &arp)) return;
  f.FrameAndEthernetCells(row);
  ARPCells(row, arp, f.End);
}

void ICMPRowText(TPacketList list, int32_t position, TRowText& row) {
  TRowFrame f;
  const ICMP_HDR* icmp = nullptr;
  if (!f.TakeIP(list, position, row) || !GetICMPHeader(f.IP, f.End, &icmp)) return;
  f.FrameAndEthernetCells(row);
  IPCells(row, f.IP, f.End);
  ICMPCells(row, icmp, f.End);
}

void TCPRowText(TPacketList list, int32_t position, int32_t tcpDataOffset, TRowText& row) {
  TCPRow(list, position, tcpDataOffset, false, row);
}

void UDPRowText(TPacketList list, int32_t position, int32_t udpDataOffset, TRowText& row) {
  UDPRow(list, position, udpDataOffset, false, row);
}

void TCPDataRowText(TPacketList list, int32_t position, int32_t tcpDataOffset, TRowText& row) {
  TCPRow(list, position, tcpDataOffset, true, row);
}

void UDPDataRowText(TPacketList list, int32_t position, int32_t udpDataOffset, TRowText& row) {
  UDPRow(list, position, udpDataOffset, true, row);
}

void ViewRowText(int32_t view, TPacketList list, int32_t position, int32_t tcpDataOffset,
                 int32_t udpDataOffset, TRowText& row) {
  switch (view) {
    case viETH: return ETHRowText(list, position, row);
    case viIP: return IPRowText(list, position, row);
    case viARP: return ARPRowText(list, position, row);
    case viICMP: return ICMPRowText(list, position, row);
    case viTCP: return TCPRowText(list, position, tcpDataOffset, row);
    case viUDP: return UDPRowText(list, position, udpDataOffset, row);
    case viTCPData: return TCPDataRowText(list, position, tcpDataOffset, row);
    case viUDPData: return UDPDataRowText(list, position, udpDataOffset, row);
    default: row.Clear();
  }
}

// ---- Payload pane -----------------------------------------------------------------------------

bool IsDumpCharacter(uint8_t byte) { return byte >= 0x1F && byte <= 0x7F; }

std::string HexDumpLines(const uint8_t* start, size_t count) {
  static constexpr char Digits[] = "0123456789ABCDEF";
  constexpr size_t PerLine = 16;
  // A full line: 16 characters, " [ ", 16 hex bytes of 3 characters, three "| ", "]", "\n".
  std::string dump;
  dump.reserve((count + PerLine - 1) / PerLine * 75);
  for (size_t line = 0; line < count; line += PerLine) {
    const size_t n = std::min(PerLine, count - line);
    const uint8_t* bytes = start + line;
    if (line) dump.push_back('\n');
    // The character part is followed by nine blanks and cut to 16, so short lines keep
    // their hex part close to the characters.
    for (size_t i = 0; i < n; ++i)
      dump.push_back(IsDumpCharacter(bytes[i]) ? char(bytes[i]) : '.');
    dump.append(std::min(n + 9, PerLine) - n, ' ');
    dump.append(" [ ");
    for (size_t i = 0; i < n; ++i) {
      if (i && i % 4 == 0) dump.append("| ");
      // "%2X ": a single digit gets a blank in front, not a zero.
      dump.push_back(bytes[i] < 0x10 ? ' ' : Digits[bytes[i] >> 4]);
      dump.push_back(Digits[bytes[i] & 0xF]);
      dump.push_back(' ');
    }
    dump.push_back(']');
  }
  return dump;
}

std::string PayloadText(int32_t view, const TQuarnNode& node, int32_t dataOffset, bool hex) {
  const uint8_t* end = node.DataEnd();
  const IP_HDR* ip = nullptr;
  if (!GetIPHeader(node.Frame(), end, &ip)) return {};
  const uint8_t* payload = nullptr;
  int32_t length = 0;
  // Unlike the Data column, the pane is not limited by the IP total length: it shows what
  // the transport header says, within the captured bytes.
  if (view == viTCP || view == viTCPData) {
    const TCP_HDR* tcp = nullptr;
    if (!GetTCPHeader(ip, end, &tcp)) return {};
    GetTCPData(ip, tcp, end, &payload, &length);
  } else if (view == viUDP || view == viUDPData) {
    const UDP_HDR* udp = nullptr;
    if (!GetUDPHeader(ip, end, &udp)) return {};
    GetUDPData(ip, udp, end, &payload, &length);
  } else {
    return {};
  }
  if (!payload || int64_t(length) - dataOffset <= 0) return {};
  const std::string_view bytes = CapturedWindow(node.Data(), end, payload, dataOffset, length);
  if (hex) return HexDumpLines(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
  // The pane holds text, which ends at the first zero byte; the dump shows every byte.
  return std::string(UpToZero(bytes));
}

std::string PaneLines(std::string_view text) {
  std::string lines;
  lines.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] != '\r') {
      lines += text[i];
      continue;
    }
    lines += '\n';
    if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
  }
  return lines;
}

// ---- Filing -----------------------------------------------------------------------------------

// A frame is filed by its type codes alone (EtherType, IP protocol) and by the payload length
// its header fields give. A type code that was not captured counts as absent, so a frame cut
// before it goes to the Ethernet list only; a frame whose type codes were captured but whose
// headers were cut short is filed by them, and its row shows empty cells for what is missing.
TListSet FrameLists(const ETH_HDR* frame, const uint8_t* end) {
  TListSet lists = ListBit(viETH);
  const IP_HDR* ip = nullptr;
  if (GetIPHeader(frame, end, &ip)) {
    lists |= ListBit(viIP);
    const TCP_HDR* tcp = nullptr;
    const UDP_HDR* udp = nullptr;
    if (GetTCPHeader(ip, end, &tcp)) {
      lists |= ListBit(viTCP);
      if (GetTCPData(ip, tcp, end)) lists |= ListBit(viTCPData);
    } else if (GetUDPHeader(ip, end, &udp)) {
      lists |= ListBit(viUDP);
      if (GetUDPData(ip, udp, end)) lists |= ListBit(viUDPData);
    } else if (GetICMPHeader(ip, end)) {
      lists |= ListBit(viICMP);
    }
  } else if (GetARPHeader(frame, end)) {
    lists |= ListBit(viARP);
  }
  return lists;
}
