#include "presentation/Views.h"

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

int32_t ColumnOfCaption(int32_t view, const std::string& caption, int32_t nth) {
  int32_t column = 0;
  for (int32_t group : ViewSpecs[size_t(view)].Groups)
    for (const TColumnSpec& groupColumn : ColumnGroup(group)) {
      if (groupColumn.Caption == caption && nth-- == 0) return column;
      ++column;
    }
  return -1;
}

std::vector<std::string> ColumnCaptions(int32_t view) {
  std::vector<std::string> captions;
  for (int32_t group : ViewSpecs[size_t(view)].Groups)
    for (const TColumnSpec& column : ColumnGroup(group)) captions.emplace_back(column.Caption);
  return captions;
}
