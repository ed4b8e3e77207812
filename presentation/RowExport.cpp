#include "presentation/RowExport.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <cstring>
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
// every other byte.
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
constexpr std::array<bool, 256> CSVNeedsCare = [] {
  std::array<bool, 256> care{};
  for (char c : {',', '"', '\r', '\n'}) care[uint8_t(c)] = true;
  for (size_t c = 0x80; c < 256; ++c) care[c] = true;
  return care;
}();

// Whether any of the eight bytes of `v` may need an escape: a backslash, or a byte below
// 0x0E, which takes in tab, line feed and carriage return. Exact for "none", so a block
// without any is copied whole; most text is such blocks.
inline bool MayNeedEscape(uint64_t v) {
  constexpr uint64_t Ones = 0x0101010101010101, Highs = 0x8080808080808080;
  const uint64_t backslashes = v ^ (Ones * uint8_t('\\'));
  const uint64_t backslash = (backslashes - Ones) & ~backslashes & Highs;
  const uint64_t control = (v - Ones * 0x0E) & ~v & Highs;
  return (backslash | control) != 0;
}

inline char* EscapeByte(char c, char* out) {
  const char letter = EscapeLetters[uint8_t(c)];
  if (!letter) {
    *out++ = c;
  } else {
    *out++ = '\\';
    *out++ = letter;
  }
  return out;
}

// Writes `cell` at `out`, which has room for twice its size; returns the end.
char* EscapeTabSeparated(std::string_view cell, char* out) {
  const char* p = cell.data();
  const char* const end = p + cell.size();
  for (; end - p >= 8; p += 8) {
    uint64_t block;
    std::memcpy(&block, p, 8);
    if (!MayNeedEscape(block)) {
      std::memcpy(out, p, 8);
      out += 8;
    } else {
      for (int i = 0; i < 8; ++i) out = EscapeByte(p[i], out);
    }
  }
  for (; p < end; ++p) out = EscapeByte(*p, out);
  return out;
}

// Writes `cell` at `out`, which has room for twice its size and two quotes; returns the end.
char* QuoteCSV(std::string_view cell, char* out) {
  bool quoted = false, plain = true;
  for (char c : cell) {
    if (!CSVNeedsCare[uint8_t(c)]) continue;
    plain = false;
    if (uint8_t(c) < 0x80) quoted = true;
  }
  if (plain) {
    std::memcpy(out, cell.data(), cell.size());
    return out + cell.size();
  }
  if (quoted) *out++ = '"';
  for (char c : cell) {
    const uint8_t b = uint8_t(c);
    if (b >= 0x80) {
      *out++ = char(0xC0 | (b >> 6));
      *out++ = char(0x80 | (b & 0x3F));
    } else {
      if (c == '"') *out++ = '"';
      *out++ = c;
    }
  }
  if (quoted) *out++ = '"';
  return out;
}

// A piece's text, written through a pointer into room made once per line, so that a byte
// costs no check of the string's size. Keeps its memory from piece to piece.
class TPieceText {
 public:
  char* Room(size_t bytes) {
    if (Size_ + bytes > Bytes_.size()) Bytes_.resize(std::max(2 * Bytes_.size(), Size_ + bytes));
    return Bytes_.data() + Size_;
  }
  void Commit(const char* end) { Size_ = size_t(end - Bytes_.data()); }
  void Clear() { Size_ = 0; }
  std::string_view Text() const { return {Bytes_.data(), Size_}; }

 private:
  std::string Bytes_;
  size_t Size_ = 0;
};

// One line: `columns` cells, of which `cells` has `count` (a row lacking some, as a frame
// without the view's headers does, gets empty ones), separated and ended as the format wants.
template <class TCells>
void AppendLine(TRowFormat format, const TCells& cells, size_t count, size_t columns,
                TPieceText& out) {
  const bool csv = format == TRowFormat::CSV;
  // Each byte of a cell becomes at most two, and a CSV cell gets at most two quotes.
  size_t room = columns + 2;
  for (size_t c = 0; c < count; ++c) room += 2 * cells[c].size() + 2;
  char* p = out.Room(room);
  for (size_t c = 0; c < columns; ++c) {
    if (c) *p++ = csv ? ',' : '\t';
    if (c < count) p = csv ? QuoteCSV(cells[c], p) : EscapeTabSeparated(cells[c], p);
  }
  if (csv) *p++ = '\r';
  *p++ = '\n';
  out.Commit(p);
}

// Builds the rows [first, last) of the source into `out`, which it empties first.
void BuildPiece(TRowFormat format, const TRowSource& rows, size_t columns, size_t first,
                size_t last, TRowText& row, TPieceText& out) {
  out.Clear();
  for (size_t i = first; i < last; ++i) {
    const int32_t position = rows.Positions ? (*rows.Positions)[i] : int32_t(i);
    ViewRowText(rows.View, rows.Items, position, rows.TCPDataOffset, rows.UDPDataOffset, row);
    AppendLine(format, row, row.Count(), columns, out);
  }
}
}  // namespace

bool WriteRows(TRowFormat format, const TRowSource& rows, TRowSink sink, bool twoThreads) {
  const std::vector<std::string> captions = ColumnCaptions(rows.View);
  TPieceText head;
  if (format == TRowFormat::RowsText) {
    const std::string heading = "# " + std::string(ViewSpecs[size_t(rows.View)].Caption) + "\n";
    head.Commit(std::copy(heading.begin(), heading.end(), head.Room(heading.size())));
  }
  AppendLine(format, captions, captions.size(), captions.size(), head);
  if (!sink(head.Text(), 0)) return false;

  const size_t count = rows.RowCount();
  const size_t pieces = (count + PieceRows - 1) / PieceRows;
  auto piece = [&](size_t k, TRowText& row, TPieceText& out) {
    BuildPiece(format, rows, captions.size(), k * PieceRows, std::min(count, (k + 1) * PieceRows),
               row, out);
  };
  auto done = [&](size_t k) { return std::min(count, (k + 1) * PieceRows); };

  TRowText row;
  TPieceText text;
  if (!twoThreads || pieces < 2) {
    for (size_t k = 0; k < pieces; ++k) {
      piece(k, row, text);
      if (!sink(text.Text(), done(k))) return false;
    }
    return true;
  }

  // The helper builds the odd pieces into two buffers in turn, while this thread builds the
  // even ones and hands every piece to the sink in order. `free` counts the helper's buffers
  // the sink is done with, `ready` those it has filled.
  std::array<TPieceText, 2> helperText;
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
      if (!sink(text.Text(), done(k))) return false;
    } else {
      ready.acquire();
      if (!sink(helperText[(k / 2) % 2].Text(), done(k))) return false;
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
