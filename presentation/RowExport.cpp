#include "presentation/RowExport.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <semaphore>
#include <thread>
#include <vector>

#include "presentation/Views.h"

namespace {
// Rows in one piece of text: about a megabyte for the TCP view's rows, which is large enough
// that a write() or a hand-over between the threads costs nothing per row, and small enough
// that a Cancel is felt at once.
constexpr size_t PieceRows = 4096;

// The letter after the backslash for the four bytes the tab-separated formats escape; 0 for
// every other byte. A table, so that a cell is scanned, not appended, byte by byte.
constexpr std::array<char, 256> EscapeLetters = [] {
  std::array<char, 256> letters{};
  letters[uint8_t('\\')] = '\\';
  letters[uint8_t('\t')] = 't';
  letters[uint8_t('\r')] = 'r';
  letters[uint8_t('\n')] = 'n';
  return letters;
}();

// Bytes that make a CSV field need work: the four that force quotes, and every byte of 0x80
// and above, which becomes two bytes of UTF-8.
constexpr std::array<bool, 256> CSVSpecial = [] {
  std::array<bool, 256> special{};
  for (char c : {',', '"', '\r', '\n'}) special[uint8_t(c)] = true;
  for (size_t c = 0x80; c < 256; ++c) special[c] = true;
  return special;
}();

std::vector<std::string> ColumnCaptions(int32_t view) {
  TColumnArray columns;
  for (int32_t group : ViewSpecs[size_t(view)].Groups)
    AddColumnGroup(columns, ViewSpecs[size_t(view)].Number, group);
  std::vector<std::string> captions;
  for (int32_t c = 0; c < columns.ColumnCount(); ++c) captions.push_back(columns.Caption(c));
  return captions;
}

void AppendCell(TRowFormat format, std::string_view cell, std::string& out) {
  if (format == TRowFormat::CSV) AppendCSVCell(cell, out);
  else AppendTabSeparatedCell(cell, out);
}

// One line: `cells` cells (a row lacking some, as a frame without the view's headers does,
// gets empty ones), separated and ended as the format wants.
template <class TCells>
void AppendLine(TRowFormat format, const TCells& cells, size_t count, size_t columns,
                std::string& out) {
  const char separator = format == TRowFormat::CSV ? ',' : '\t';
  for (size_t c = 0; c < columns; ++c) {
    if (c) out += separator;
    if (c < count) AppendCell(format, cells[c], out);
  }
  if (format == TRowFormat::CSV) out += '\r';
  out += '\n';
}

// Builds the rows [first, last) of the source into `out`, which it empties first.
void BuildPiece(TRowFormat format, const TRowSource& rows, size_t columns, size_t first,
                size_t last, TRowText& row, std::string& out) {
  out.clear();
  for (size_t i = first; i < last; ++i) {
    const int32_t position = rows.Positions ? (*rows.Positions)[i] : int32_t(i);
    ViewRowText(rows.View, rows.Items, position, rows.TCPDataOffset, rows.UDPDataOffset, row);
    AppendLine(format, row, row.Count(), columns, out);
  }
}
}  // namespace

void AppendTabSeparatedCell(std::string_view cell, std::string& out) {
  size_t start = 0;
  for (size_t i = 0; i < cell.size(); ++i) {
    const char letter = EscapeLetters[uint8_t(cell[i])];
    if (!letter) continue;
    out.append(cell.data() + start, i - start);
    out += '\\';
    out += letter;
    start = i + 1;
  }
  out.append(cell.data() + start, cell.size() - start);
}

void AppendCSVCell(std::string_view cell, std::string& out) {
  bool quoted = false, plain = true;
  for (char c : cell) {
    if (!CSVSpecial[uint8_t(c)]) continue;
    plain = false;
    if (uint8_t(c) < 0x80) quoted = true;
  }
  if (plain) {
    out += cell;
    return;
  }
  if (quoted) out += '"';
  for (char c : cell) {
    const uint8_t b = uint8_t(c);
    if (b >= 0x80) {
      out += char(0xC0 | (b >> 6));
      out += char(0x80 | (b & 0x3F));
    } else {
      if (c == '"') out += '"';
      out += c;
    }
  }
  if (quoted) out += '"';
}

bool WriteRows(TRowFormat format, const TRowSource& rows, TRowSink sink, bool twoThreads) {
  const std::vector<std::string> captions = ColumnCaptions(rows.View);
  std::string head;
  if (format == TRowFormat::RowsText) {
    head += "# ";
    head += ViewSpecs[size_t(rows.View)].Caption;
    head += '\n';
  }
  AppendLine(format, captions, captions.size(), captions.size(), head);
  if (!sink(head, 0)) return false;

  const size_t count = rows.RowCount();
  const size_t pieces = (count + PieceRows - 1) / PieceRows;
  auto piece = [&](size_t k, TRowText& row, std::string& out) {
    BuildPiece(format, rows, captions.size(), k * PieceRows, std::min(count, (k + 1) * PieceRows),
               row, out);
  };
  auto done = [&](size_t k) { return std::min(count, (k + 1) * PieceRows); };

  TRowText row;
  std::string text;
  if (!twoThreads || pieces < 2) {
    for (size_t k = 0; k < pieces; ++k) {
      piece(k, row, text);
      if (!sink(text, done(k))) return false;
    }
    return true;
  }

  // The helper builds the odd pieces into two buffers in turn, while this thread builds the
  // even ones and hands every piece to the sink in order. `free` counts the helper's buffers
  // the sink is done with, `ready` those it has filled.
  std::array<std::string, 2> helperText;
  std::counting_semaphore<> free(2), ready(0);
  std::atomic<bool> stop{false};
  std::thread helper([&] {
    TRowText helperRow;
    for (size_t k = 1; k < pieces; k += 2) {
      free.acquire();
      if (stop.load(std::memory_order_relaxed)) return;
      piece(k, helperRow, helperText[(k / 2) % 2]);
      ready.release();
    }
  });
  // However this thread leaves (the sink stopped, or threw), the helper is let go first: it
  // may be waiting for a buffer the sink will never give back.
  struct TJoin {
    std::thread& Helper;
    std::atomic<bool>& Stop;
    std::counting_semaphore<>& Free;
    ~TJoin() {
      Stop = true;
      Free.release(2);
      Helper.join();
    }
  } join{helper, stop, free};
  for (size_t k = 0; k < pieces; ++k) {
    if (k % 2 == 0) {
      piece(k, row, text);
      if (!sink(text, done(k))) return false;
    } else {
      ready.acquire();
      if (!sink(helperText[(k / 2) % 2], done(k))) return false;
      free.release();
    }
  }
  return true;
}

std::string RowsAsText(TRowFormat format, const TRowSource& rows) {
  std::string all;
  WriteRows(format, rows, [&](std::string_view text, size_t) {
    all += text;
    return true;
  });
  return all;
}
