#pragma once
// The rows of a view as text for other programs: what trellan-rows prints, what the window
// copies to the clipboard, and what File > Export writes. One routine for all of them, so that
// a row pasted from the window, exported to a file and printed by the tool read the same.
//
// Cells are the 8-bit texts of the row-text handlers (CellText.h), every column of the view
// included, hidden ones too: a payload's Data cell may hold any byte.
//
// Formats:
//   RowsText      trellan-rows: "# " and the tab caption, then the tab-separated column
//                 captions, then one tab-separated line per row, each line ended by LF. A
//                 cell's bytes are written as they are, except backslash, tab, carriage return
//                 and line feed, written \\, \t, \r and \n, so that one line is one row.
//   TabSeparated  the same without the "# " line: for a paste into a spreadsheet or an export.
//                 The same escapes as the tool, so that a file the window wrote and one the
//                 tool printed can be compared line by line.
//   CSV           RFC 4180: a line of the column captions, then the rows, comma-separated, each
//                 line ended by CR LF. A field holding a comma, a double quote, CR or LF is
//                 enclosed in double quotes, with its quotes doubled. The window shows a cell's
//                 bytes as Latin-1; a spreadsheet reads a CSV file best as UTF-8, so bytes of
//                 0x80 and above are written as the UTF-8 of that Latin-1 character. No
//                 byte-order mark: RFC 4180 has none and tools that split lines trip on it.
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "platform/FunctionRef.h"
#include "presentation/CellText.h"

enum class TRowFormat { RowsText, TabSeparated, CSV };

// The rows to write: rows of `Items`, a view's rows in the order it shows them.
struct TRowSource {
  int32_t View = 0;  // a TViewIndex: decides the columns and the row-text handler
  TPacketList Items;
  // The positions in Items to write, in this order (a selection); every row when not given.
  std::optional<std::span<const int32_t>> Positions;
  int32_t TCPDataOffset = 0;
  int32_t UDPDataOffset = 0;

  size_t RowCount() const { return Positions ? Positions->size() : Items.size(); }
};

// Receives the text in pieces of about a megabyte, in order, with the number of rows written
// so far (for a progress bar); returns false to stop the writing (a failed write, a Cancel).
using TRowSink = platform::FunctionRef<bool(std::string_view text, size_t rowsDone)>;

// Writes the captions and rows of `rows` in `format` to `sink`. With twoThreads, a second
// thread builds every other piece while this one builds and hands over the rest; the sink
// is always called on this thread, in order. False when the sink stopped the writing.
bool WriteRows(TRowFormat format, const TRowSource& rows, TRowSink sink, bool twoThreads = false);

// The whole text at once, for the clipboard.
std::string RowsAsText(TRowFormat format, const TRowSource& rows);
