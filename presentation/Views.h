#pragma once
// The eight packet views and their columns, described once, without any toolkit: which frames
// a view holds, whether it has a payload pane, and for every column its caption, width, how
// its cell is written and how it sorts. Filing, the row texts, sorting, finding, the payload
// pane, the window, the tools and Follow Stream all read this table.
//
// Adding a protocol: decode its header in capture/PacketLayers (the link-layer step or the
// network step), give the views' columns cell writers that read it (CellText.cpp), and let
// the views' rules (TViewFrames) accept it. See docs/ARCHITECTURE.md.
#include <array>
#include <cstdint>
#include <span>
#include <string>
#include <vector>

#include "capture/PacketLayers.h"

struct TFrame;
// ---- The eight views, in tab order ----------------------------------------------------------

enum TViewIndex : int32_t { viETH, viIP, viARP, viICMP, viTCP, viUDP, viTCPData, viUDPData };
constexpr int32_t ViewCount = 8;

// The transport whose payload a view's pane shows and whose Data offset its rows take.
enum class TPayloadKind : uint8_t { None, TCP, UDP };

// Which frames a view holds: every frame, those with an IP (IPv4 or IPv6) or ARP header,
// those with an ICMP (ICMPv6), TCP or UDP header, and those whose TCP or UDP header gives a
// payload. A rule rather than a function, so that filing every frame costs no calls.
enum class TViewFrames : uint8_t { Every, IP, ARP, ICMP, TCP, UDP, TCPData, UDPData };
inline bool Holds(TViewFrames rule, const TPacketLayers& l) {
  switch (rule) {
    case TViewFrames::Every: return true;
    case TViewFrames::IP: return l.IsIP();
    case TViewFrames::ARP: return l.Network == TNetworkKind::ARP;
    case TViewFrames::ICMP: return l.ICMP();
    case TViewFrames::TCP: return l.TCP();
    case TViewFrames::UDP: return l.UDP();
    case TViewFrames::TCPData: return l.TCP() && TCPPayload(l);
    case TViewFrames::UDPData: return l.UDP() && UDPPayload(l);
  }
  return false;
}

struct TViewSpec {
  int32_t Number;       // 2..9: decides which columns start visible
  const char* Name;     // list view name, also its section of the settings file
  const char* Caption;  // tab caption
  const char* Hint;     // names the view in the field selection dialog
  std::span<const int32_t> Groups;  // column groups, in column order
  TPayloadKind Payload;
  // Which frames are rows of the view.
  TViewFrames Frames;
};
extern const std::array<TViewSpec, ViewCount> ViewSpecs;
inline TPayloadKind PayloadOf(int32_t view) {
  return view >= 0 && view < ViewCount ? ViewSpecs[size_t(view)].Payload : TPayloadKind::None;
}
inline bool HasPayloadPane(int32_t view) { return PayloadOf(view) != TPayloadKind::None; }

// ---- Column sets ------------------------------------------------------------------------------

// How a column sorts: by the number, hexadecimal value, MAC or IP address its cell shows, by the
// capture time, or by its text.
enum class TSortKind { Number, Hex, Mac, Address, Time, Text };

// What a cell writer reads: the row's frame, its layers, the headers of the view's protocols
// (nullptr where the frame has none) and the payload its Data cells show.
struct TRowContext {
  const TFrame& Frame;
  const TPacketLayers& Layers;
  const ARP_HDR* ARP = nullptr;
  const ICMP_HDR* ICMP = nullptr;
  const TCP_HDR* TCP = nullptr;
  const UDP_HDR* UDP = nullptr;
  const uint8_t* Payload = nullptr;  // nullptr: its length fields were not captured
  int32_t PayloadLength = 0;
  int32_t DataOffset = 0;
};
// Appends the text of one cell.
using TCellWriter = void (*)(const TRowContext& row, std::string& cell);

struct TColumnSpec {
  const char* Caption;
  // In pixels of the 8-point font the views were first drawn for; a view shown in another font
  // widens it to that font (TColumnList::DefaultWidthFor).
  int32_t DefaultWidth;
  uint16_t VisibleIn;  // bit n set: the column starts visible in the view numbered n
  // A usual value of the column at its widest, which a view's default width leaves room for;
  // empty for the free text of a payload.
  const char* Sample;
  TSortKind Sort;
  TCellWriter Write;
};
// The columns of group 1 to 9, in order; empty for any other number.
std::span<const TColumnSpec> ColumnGroup(int32_t group);

// The columns of one view as the column routines see them. A width of 0 hides a column;
// DefaultWidth is the width it was created with and never changes.
class TColumnList {
 public:
  virtual ~TColumnList() = default;
  virtual void AddColumn(const std::string& caption, int32_t width, int32_t defaultWidth) = 0;
  virtual int32_t ColumnCount() const = 0;
  virtual std::string Caption(int32_t column) const = 0;
  virtual int32_t Width(int32_t column) const = 0;
  virtual void SetWidth(int32_t column, int32_t width) = 0;
  virtual int32_t DefaultWidth(int32_t column) const = 0;
  // The default width the list gives a column of a column set. A list without a font keeps
  // the set's width.
  virtual int32_t DefaultWidthFor(const TColumnSpec& column) const { return column.DefaultWidth; }
};

// A column list held in memory, for views without a widget (tools, exports).
class TColumnArray final : public TColumnList {
 public:
  void AddColumn(const std::string& caption, int32_t width, int32_t defaultWidth) override;
  int32_t ColumnCount() const override;
  std::string Caption(int32_t column) const override;
  int32_t Width(int32_t column) const override;
  void SetWidth(int32_t column, int32_t width) override;
  int32_t DefaultWidth(int32_t column) const override;

 private:
  struct TColumn {
    std::string Caption;
    int32_t Width;
    int32_t DefaultWidth;
  };
  std::vector<TColumn> Columns_;
};

// Column `column` of view `view` (a TViewIndex), as the row texts number them; nullptr past
// the last.
const TColumnSpec* ViewColumn(int32_t view, int32_t column);
// The captions of the columns of view `view` (a TViewIndex), as the row texts number their
// cells: hidden columns too.
std::vector<std::string> ColumnCaptions(int32_t view);
// The column of view `view` (a TViewIndex) captioned `caption`, as the row texts number
// them (0 is Index); `nth` picks among columns of the same caption (two "Len" in some
// views). -1 when there is none.
int32_t ColumnOfCaption(int32_t view, const std::string& caption, int32_t nth = 0);

// Appends the columns of `group` with the default widths the list gives them, hiding (width 0)
// those that do not start visible in the view numbered `viewNumber`. A group outside 1 to 9
// adds nothing.
void AddColumnGroup(TColumnList& view, int32_t viewNumber, int32_t group);
// Gives each of the eight views, in tab order, its column groups.
void BuildViews(const std::array<TColumnList*, ViewCount>& views);
