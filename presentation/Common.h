#pragma once
// The toolkit-neutral half of the eight packet views: their column sets, the text of every
// cell, the payload pane's text and hex dump, and the rule that files a frame into the views.
// The Qt views and the command-line tools sit on top of this; nothing here knows a widget.
//
// Bounds: every routine that reads a frame takes `end`, the first byte past its captured
// bytes, and reads nothing at or past it, whatever the length fields of the headers claim.
// A cell whose field was not captured is an empty text (see Common.cpp).
#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "capture/QuarnFrame.h"
#include "capture/QuarnMemory.h"

// ---- The eight views, in tab order ----------------------------------------------------------

enum TViewIndex : int32_t { viETH, viIP, viARP, viICMP, viTCP, viUDP, viTCPData, viUDPData };
constexpr int32_t ViewCount = 8;

struct TViewSpec {
  int32_t Number;       // 2..9: decides which columns start visible
  const char* Name;     // list view name, also its section of the settings file
  const char* Caption;  // tab caption
  const char* Hint;     // names the view in the field selection dialog
  std::span<const int32_t> Groups;  // column groups, in column order
};
extern const std::array<TViewSpec, ViewCount> ViewSpecs;

// ---- Column sets ------------------------------------------------------------------------------

struct TColumnSpec {
  const char* Caption;
  // In pixels of the 8-point font the views were first drawn for; a view shown in another font
  // widens it to that font (TColumnList::DefaultWidthFor).
  int32_t DefaultWidth;
  uint16_t VisibleIn;  // bit n set: the column starts visible in the view numbered n
  // A usual value of the column at its widest, which a view's default width leaves room for;
  // empty for the free text of a payload.
  const char* Sample;
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

// Appends the columns of `group` with the default widths the list gives them, hiding (width 0)
// those that do not start visible in the view numbered `viewNumber`. A group outside 1 to 9
// adds nothing.
void AddColumnGroup(TColumnList& view, int32_t viewNumber, int32_t group);
// Gives each of the eight views, in tab order, its column groups.
void BuildViews(const std::array<TColumnList*, ViewCount>& views);

// ---- Texts of numbers and fields; each appends to `text` --------------------------------------

void DecimalText(int64_t value, std::string& text);
// Upper-case hexadecimal, zero-filled to at least `digits` digits, never cut.
void HexText(uint32_t value, int32_t digits, std::string& text);
// Time of day (UTC) of a capture time as HH:MM:SS:UUUUUU.
void TimeText(int32_t sec, int32_t usec, std::string& text);
// hex(4) of the stored checksum, followed by "(" hex(4) ")" of the computed one when they
// differ; the stored value alone when nothing could be computed.
void ChecksumText(uint16_t stored, std::optional<uint16_t> computed, std::string& text);
// " URG ACK PSH RST SYN FIN", each name only when its bit is set.
void TCPFlagText(uint8_t flags, std::string& text);
// The segment's options as one line, such as MSS(1460)/NOP/Window Scale(multiply by 128).
void TCPOptionText(const TCP_HDR* tcp, const uint8_t* end, std::string& text);

// ---- Rows -------------------------------------------------------------------------------------

// The texts of one row: the caption (the "Index" column), then one text per further column.
// Built again for every request into the same object, whose strings keep their capacity, so a
// repaint allocates nothing once the first rows have been built.
class TRowText {
 public:
  void Clear() { Count_ = 0; }
  // The next cell, empty. The reference is good until the next Add.
  std::string& Add() {
    if (Count_ == Cells_.size()) Cells_.emplace_back();
    std::string& cell = Cells_[Count_++];
    cell.clear();
    return cell;
  }
  size_t Count() const { return Count_; }
  const std::string& operator[](size_t i) const { return Cells_[i]; }
  const std::string* begin() const { return Cells_.data(); }
  const std::string* end() const { return Cells_.data() + Count_; }

 private:
  std::vector<std::string> Cells_;
  size_t Count_ = 0;
};

// Caption (Index), Time, Capture, Len.
void FrameCells(TRowText& row, const TQuarnNode& node);
// DstMac, SrcMac, Protocol(x).
void EthernetCells(TRowText& row, const ETH_HDR* eth, const uint8_t* end);
// The ten IP cells, VerLen(x) to DstIP.
void IPCells(TRowText& row, const IP_HDR* ip, const uint8_t* end);
// The nine ARP cells, HardwareType to TargetIP.
void ARPCells(TRowText& row, const ARP_HDR* arp, const uint8_t* end);
// Type, Code, Checksum(x), and an empty Data cell.
void ICMPCells(TRowText& row, const ICMP_HDR* icmp, const uint8_t* end);
// The ten TCP cells, Src Port to TCPOption.
void TCPCells(TRowText& row, const IP_HDR* ip, const TCP_HDR* tcp, const uint8_t* end);
// Src Port, Dst Port, Len, Checksum(x).
void UDPCells(TRowText& row, const IP_HDR* ip, const UDP_HDR* udp, const uint8_t* end);
// The payload length, then the Data text: the bytes from payload + offset up to
// payload + length, of those that lie within the captured frame [frame, end). A payload
// without a known start (nullptr: its length fields were not captured) gives two empty cells.
void PayloadCells(TRowText& row, const uint8_t* payload, int32_t length, int32_t offset,
                  const uint8_t* frame, const uint8_t* end);

// A view's packet list, in row order: row i is frame number numbers[i] (from 1) of the node
// table `nodes`.
class TPacketList {
 public:
  TPacketList() = default;
  TPacketList(const uint32_t* numbers, size_t count, const TQuarnNode* const* nodes)
      : Numbers_(numbers), Count_(count), Nodes_(nodes) {}
  size_t size() const { return Count_; }
  const TQuarnNode* operator[](size_t row) const { return Nodes_[Numbers_[row] - 1]; }

 private:
  const uint32_t* Numbers_ = nullptr;
  size_t Count_ = 0;
  const TQuarnNode* const* Nodes_ = nullptr;
};

// The row-text handlers. Each clears `row` and fills it with the row at `position`; the row
// stays empty when the position is outside the list or the frame lacks the view's headers.
// Every column gets a text, hidden ones included.
void ETHRowText(TPacketList list, int32_t position, TRowText& row);
void IPRowText(TPacketList list, int32_t position, TRowText& row);
void ARPRowText(TPacketList list, int32_t position, TRowText& row);
void ICMPRowText(TPacketList list, int32_t position, TRowText& row);
void TCPRowText(TPacketList list, int32_t position, int32_t tcpDataOffset, TRowText& row);
void UDPRowText(TPacketList list, int32_t position, int32_t udpDataOffset, TRowText& row);
void TCPDataRowText(TPacketList list, int32_t position, int32_t tcpDataOffset, TRowText& row);
void UDPDataRowText(TPacketList list, int32_t position, int32_t udpDataOffset, TRowText& row);
// The handler of the view at `view` (a TViewIndex).
void ViewRowText(int32_t view, TPacketList list, int32_t position, int32_t tcpDataOffset,
                 int32_t udpDataOffset, TRowText& row);

// ---- Payload pane -----------------------------------------------------------------------------

// True when the dump's character column shows the byte as itself: 1F to 7F inclusive.
bool IsDumpCharacter(uint8_t byte);
// The hex dump of `count` bytes, 16 to a line, lines joined by "\n".
std::string HexDumpLines(const uint8_t* start, size_t count);
// What the payload pane under the TCP, UDP, TCP Data or UDP Data view shows for `node`: the
// payload after `dataOffset` leading bytes, as text (up to its first zero byte) or as a hex
// dump. The empty text clears the pane; the other four views have no pane and get it too.
std::string PayloadText(int32_t view, const TQuarnNode& node, int32_t dataOffset, bool hex);
// The lines the pane shows for a text: a CR LF pair, a lone CR and a lone LF each end a line,
// which the result writes as "\n".
std::string PaneLines(std::string_view text);

// ---- Filing -----------------------------------------------------------------------------------

// The lists a frame belongs to, one bit per view (ListBit). The window's filing and the
// capture progress counters both use it, so their categories always agree.
using TListSet = uint8_t;
constexpr TListSet ListBit(int32_t view) { return TListSet(1u << view); }
TListSet FrameLists(const ETH_HDR* frame, const uint8_t* end);
