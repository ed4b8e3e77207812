#pragma once
// The text of every cell of the eight packet views, and the rows built from them; the Qt views
// and the command-line tools show these texts, and nothing here knows a widget.
//
// Bounds: every routine that reads a frame takes `end`, the first byte past its captured
// bytes, and reads nothing at or past it, whatever the length fields of the headers claim.
// A cell whose field was not captured is an empty text (see CellText.cpp).
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "capture/QuarnFrame.h"
#include "capture/FrameStore.h"

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

// A view's packet list, in row order. A row's frame is read when the row is asked for: a
// frame whose bytes can no longer be read comes back with Readable false.
class TPacketList {
 public:
  TPacketList() = default;
  // Row i is frame number numbers[i] of `store`.
  TPacketList(const uint32_t* numbers, size_t count, const TFrameStore* store)
      : Numbers_(numbers), Count_(count), Store_(store) {}
  // Row i is frames[i]: frames that no store holds (one frame checked alone, for instance).
  TPacketList(const TFrame* frames, size_t count) : Count_(count), Frames_(frames) {}
  size_t size() const { return Count_; }
  TFrame operator[](size_t row) const {
    return Frames_ ? Frames_[row] : Store_->Frame(int32_t(Numbers_[row]));
  }
  // Row `row` will be read soon; nothing for a row outside the list.
  void Prefetch(size_t row) const {
    if (Store_ && row < Count_) Store_->Prefetch(int32_t(Numbers_[row]));
  }

 private:
  const uint32_t* Numbers_ = nullptr;
  size_t Count_ = 0;
  const TFrameStore* Store_ = nullptr;
  const TFrame* Frames_ = nullptr;
};

// The row texts. Each clears `row` and fills it with the cells of the view's columns (hidden
// ones included), as the table of views writes them; the row stays empty when the position is
// outside the list or the frame is not one the view holds. A frame that can no longer be read
// (its file changed) gets its Index and UnreadableText. The TCP views show their payloads from
// `tcpDataOffset` on, the UDP views from `udpDataOffset` on.
extern const char* const UnreadableText;
void FrameRowText(int32_t view, const TFrame& frame, int32_t tcpDataOffset,
                  int32_t udpDataOffset, TRowText& row);
// The one cell of column `column` (as the row numbers its cells) that FrameRowText writes
// into a row, without the others: what a sort by that column reads.
void FrameCellText(int32_t view, const TFrame& frame, int32_t column, int32_t tcpDataOffset,
                   int32_t udpDataOffset, std::string& cell);
void ViewRowText(int32_t view, TPacketList list, int32_t position, int32_t tcpDataOffset,
                 int32_t udpDataOffset, TRowText& row);
