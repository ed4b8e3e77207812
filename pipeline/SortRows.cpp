// Sorting a view by a column: the keys come from the very cell texts the view shows, so that
// the order agrees with what the user reads, and equal cells keep capture order (the frame
// number decides between them).
#include <algorithm>
#include <arpa/inet.h>
#include <cstring>
#include <functional>
#include <string_view>
#include <thread>

#include "pipeline/CapturePipeline.h"
#include "platform/IntegerText.h"
#include "pipeline/RowWork.h"
#include "pipeline/ShownRows.h"

TSortKind SortKindOf(int32_t view, int32_t column) {
  const TColumnSpec* described = ViewColumn(view, column);
  return described ? described->Sort : TSortKind::Text;
}

namespace {
// A cell's value as a number that orders as the cell should, one more than the value so that
// an empty cell (0) comes before every value.
uint64_t NumericKey(TSortKind kind, std::string_view cell) {
  if (cell.empty()) return 0;
  uint64_t value = 0;
  switch (kind) {
    case TSortKind::Number:
      for (char c : cell) {
        if (c < '0' || c > '9') break;
        value = value * 10 + uint64_t(c - '0');
      }
      break;
    case TSortKind::Hex:
      // "ABCD(1234)" (a checksum that differs from the computed one) and "19 ACK PSH" (flags)
      // sort by the value they begin with.
      for (char c : cell) {
        const int32_t digit = platform::HexDigitValue(c);
        if (digit < 0) break;
        value = value << 4 | uint64_t(digit);
      }
      break;
    case TSortKind::Mac:
      // Twelve hex digits with a dash in the middle: the six bytes in order.
      for (char c : cell)
        if (const int32_t digit = platform::HexDigitValue(c); digit >= 0) value = value << 4 | uint64_t(digit);
      break;
    default: break;
  }
  return value + 1;
}

// An address cell as bytes that order as the addresses should: IPv4 (a 4 and its four bytes)
// before IPv6 (a 6 and its sixteen), each by its bytes; an empty cell before both.
void AddressKey(std::string_view cell, std::string& key) {
  key.clear();
  if (cell.empty()) return;
  const std::string text(cell);
  uint8_t bytes[16];
  if (cell.find(':') == std::string_view::npos) {
    if (inet_pton(AF_INET, text.c_str(), bytes) != 1) return;
    key.push_back('\x04');
    key.append(reinterpret_cast<const char*>(bytes), 4);
  } else {
    if (inet_pton(AF_INET6, text.c_str(), bytes) != 1) return;
    key.push_back('\x06');
    key.append(reinterpret_cast<const char*>(bytes), 16);
  }
}

// Builds the cells of single rows of one view, for a frame number at a time.
class TCellReader {
 public:
  TCellReader(const TFrameStore& store, int32_t view, int32_t column, const TDataOffsets& offsets)
      : Store_(store), View_(view), Column_(size_t(column)), Offsets_(offsets),
        Address_(SortKindOf(view, column) == TSortKind::Address) {}
  // What a text sort compares for frame `number`: the cell, or an address cell's key bytes.
  std::string_view SortText(uint32_t number) {
    const std::string_view cell = Cell(number);
    if (!Address_) return cell;
    AddressKey(cell, Key_);
    return Key_;
  }
  // The cell of the column for frame `number`; empty when the row has no such cell (an
  // unreadable frame). Only that cell is written, not the row. Good until the next call.
  std::string_view Cell(uint32_t number) {
    FrameCellText(View_, Store_.Frame(int32_t(number)), int32_t(Column_), Offsets_.TCPData,
                  Offsets_.UDPData, Cell_);
    return Cell_;
  }
  // The key of a column that sorts by a number, in the sort's direction.
  uint64_t Key(TSortKind kind, uint32_t number, bool descending) {
    uint64_t key = 0;
    if (kind == TSortKind::Time) {
      // The capture time itself: the cell shows the time of day only, which turns at midnight.
      const TFrame frame = Store_.Frame(int32_t(number));
      if (frame.Readable)
        key = uint64_t(uint32_t(frame.PktHdr.ts.tv_sec)) * 1000000 +
              uint32_t(frame.PktHdr.ts.tv_usec) + 1;
    } else {
      key = NumericKey(kind, Cell(number));
    }
    return descending ? ~key : key;
  }
  void Prefetch(uint32_t number) const { Store_.Prefetch(int32_t(number)); }

 private:
  const TFrameStore& Store_;
  int32_t View_;
  size_t Column_;
  TDataOffsets Offsets_;
  bool Address_;
  std::string Cell_;
  std::string Key_;
};

// Row i after a sort, kept apart from the frame numbers while the keys are compared.
struct TKeyRow {
  uint64_t Key;
  uint32_t Number;
  bool operator<(const TKeyRow& other) const {
    return Key != other.Key ? Key < other.Key : Number < other.Number;
  }
};

// Sorts `rows` on two threads, each half alone, then merges the halves.
template <class TRow>
void SortInTwo(std::vector<TRow>& rows) {
  const auto middle = rows.begin() + ptrdiff_t(rows.size() / 2);
  if (rows.size() < size_t(2 * RowsPerBlock)) {
    std::sort(rows.begin(), rows.end());
    return;
  }
  std::thread second([&] { std::sort(middle, rows.end()); });
  std::sort(rows.begin(), middle);
  second.join();
  std::inplace_merge(rows.begin(), middle, rows.end());
}

// ---- Text columns -----------------------------------------------------------------------------
//
// Captures repeat their texts: a service sends a few hundred payloads again and again, and
// every segment of a connection shows the same options. So each worker keeps the distinct
// texts it meets, found by hash and length and always compared byte for byte (two texts
// whose hashes collide stay two), the distinct texts are sorted once, and each row sorts by
// its text's rank and its frame number as one 64-bit number. Every cell is read once, and
// texts that share long beginnings cost one comparison each, not a pass over the rows for
// every eight bytes they share.

// The distinct texts one worker has met, each with an id (the order it was met in).
class TTextTable {
 public:
  static constexpr uint32_t NoId = UINT32_MAX;
  explicit TTextTable(size_t budget) : Budget_(budget), Slots_(1024, NoId) {}
  // The id of `text`, the same for every equal text; NoId when a new text would take the
  // table past its budget.
  uint32_t Id(std::string_view text) {
    const uint64_t hash = std::hash<std::string_view>()(text);
    const size_t mask = Slots_.size() - 1;
    size_t slot = hash & mask;
    for (uint32_t id; (id = Slots_[slot]) != NoId; slot = (slot + 1) & mask)
      if (Entries_[id].Hash == hash && Text(id) == text) return id;
    if (Bytes() + text.size() + sizeof(TEntry) > Budget_ || Entries_.size() >= NoId / 2)
      return NoId;
    const uint32_t id = uint32_t(Entries_.size());
    Entries_.push_back({hash, Texts_.size(), uint32_t(text.size())});
    Texts_.append(text);
    Slots_[slot] = id;
    if (Entries_.size() * 2 > Slots_.size()) Grow();
    return id;
  }
  std::string_view Text(uint32_t id) const {
    return std::string_view(Texts_).substr(Entries_[id].Offset, Entries_[id].Length);
  }
  uint32_t Count() const { return uint32_t(Entries_.size()); }
  size_t Bytes() const {
    return Texts_.capacity() + Entries_.capacity() * sizeof(TEntry) + Slots_.capacity() * 4;
  }

 private:
  struct TEntry {
    uint64_t Hash;
    size_t Offset;
    uint32_t Length;
  };
  void Grow() {
    Slots_.assign(Slots_.size() * 2, NoId);
    const size_t mask = Slots_.size() - 1;
    for (uint32_t id = 0; id < Entries_.size(); ++id) {
      size_t slot = Entries_[id].Hash & mask;
      while (Slots_[slot] != NoId) slot = (slot + 1) & mask;
      Slots_[slot] = id;
    }
  }
  size_t Budget_;
  std::string Texts_;
  std::vector<TEntry> Entries_;
  std::vector<uint32_t> Slots_;
};

// A distinct text and whose it is: the worker (top bit) and its id there.
struct TDistinct {
  std::string_view Text;
  uint32_t Tag;
  bool operator<(const TDistinct& other) const { return Text < other.Text; }
};

// Texts compared eight bytes at a time, most significant first, for columns whose distinct
// texts do not fit in the budget: each pass packs the next eight bytes of every row still tied with others
// into a number and sorts each tied run by it. A tied run whose texts fit in memory is
// finished at once by comparing them whole, so equal beginnings longer than eight bytes
// cost a pass only while a run is too big for that.
// Cell texts hold no zero byte (a payload is cut at its first one), so the zeros that pad a
// short text sort it before every longer text it begins. Address keys do hold zero bytes, but
// all keys of one family have one length, and the family byte in front parts the families.
// Random payloads part after one pass.
// Many copies of one text in a run too big for memory would need a pass for every eight bytes
// of it: a run whose rows all have the same length and hash is checked once against its first
// row instead, and is done.

struct TTextRow {
  uint64_t Chunk;
  uint64_t Hash;
  uint32_t Length;
  uint32_t Number;
  bool operator<(const TTextRow& other) const {
    return Chunk != other.Chunk ? Chunk < other.Chunk : Number < other.Number;
  }
};

uint64_t ChunkOf(std::string_view text, size_t pass, bool descending) {
  uint64_t chunk = 0;
  const size_t from = pass * 8;
  for (size_t i = 0; i < 8; ++i)
    chunk = chunk << 8 | (from + i < text.size() ? uint8_t(text[from + i]) : 0);
  return descending ? ~chunk : chunk;
}

struct TTiedRun {
  size_t Begin, End;
  bool Checked;  // the rows' hashes agreed but their texts did not: no shortcut again
};

// What both ways of sorting a text column read: the column's cells, in the sort's direction,
// with progress.
class TTextColumnSort {
 protected:
  TTextColumnSort(const TFrameStore& store, int32_t view, int32_t column,
                  const TDataOffsets& offsets, bool descending, const TRowsProgress& progress)
      : Store_(store), View_(view), Column_(column), Offsets_(offsets),
        Descending_(descending), Progress_(progress) {}
  TCellReader Reader() const { return {Store_, View_, Column_, Offsets_}; }

  const TFrameStore& Store_;
  int32_t View_;
  int32_t Column_;
  TDataOffsets Offsets_;
  bool Descending_;
  const TRowsProgress& Progress_;
};

class TChunkSort : TTextColumnSort {
 public:
  // `runBudget`: the most text bytes a tied run may have to be sorted in memory, by each worker.
  TChunkSort(const TFrameStore& store, int32_t view, int32_t column, const TDataOffsets& offsets,
             bool descending, const TRowsProgress& progress, size_t runBudget)
      : TTextColumnSort(store, view, column, offsets, descending, progress),
        RunBudget_(runBudget) {}

  bool Run(std::vector<uint32_t>& numbers, size_t& transient) {
    Rows_.resize(numbers.size());
    for (size_t i = 0; i < numbers.size(); ++i) Rows_[i] = {0, 0, 0, numbers[i]};
    transient = Rows_.capacity() * sizeof(TTextRow) * 3 / 2;  // with the merge's half buffer
    if (!Pass(0, nullptr, true)) return false;
    SortInTwo(Rows_);
    std::vector<TTiedRun> runs;
    FindTies({0, Rows_.size(), false}, 1, runs);
    for (size_t pass = 1; !runs.empty(); ++pass) {
      std::vector<TTiedRun> open, whole;
      for (const TTiedRun& run : runs) {
        if (RunBytes(run) <= RunBudget_)
          whole.push_back(run);
        else if (run.Checked || !AllSame(run))
          open.push_back(run);
        else if (!EqualTexts(run))
          open.push_back({run.Begin, run.End, true});
      }
      if (!SortWhole(whole)) return false;
      std::vector<uint32_t> at;
      for (const TTiedRun& run : open)
        for (size_t i = run.Begin; i < run.End; ++i) at.push_back(uint32_t(i));
      if (!Pass(pass, &at, false)) return false;
      runs.clear();
      for (TTiedRun& run : open) {
        std::sort(Rows_.begin() + ptrdiff_t(run.Begin), Rows_.begin() + ptrdiff_t(run.End));
        FindTies(run, pass + 1, runs);
      }
    }
    for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = Rows_[i].Number;
    return true;
  }

 private:
  size_t RunBytes(const TTiedRun& run) const {
    size_t bytes = 0;
    for (size_t i = run.Begin; i < run.End; ++i) bytes += Rows_[i].Length;
    return bytes;
  }
  // Sorts each of `runs` (rows tied so far, in capture order) by their whole texts, on both
  // workers, a group of runs of some RowsPerBlock rows at a time.
  bool SortWhole(const std::vector<TTiedRun>& runs) {
    std::vector<size_t> groups;  // the first run of each group, then runs.size()
    size_t total = 0, grouped = RowsPerBlock;
    for (size_t r = 0; r < runs.size(); ++r) {
      if (grouped >= size_t(RowsPerBlock)) groups.push_back(r), grouped = 0;
      grouped += runs[r].End - runs[r].Begin;
      total += runs[r].End - runs[r].Begin;
    }
    groups.push_back(runs.size());
    struct TText {
      size_t Offset;
      uint32_t Length, Number;
    };
    std::string texts[2];
    std::vector<TText> rows[2];
    TCellReader readers[2] = {Reader(), Reader()};
    return ForBlocks(int64_t(groups.size() - 1), Progress_, int64_t(total), [&](int32_t worker, int64_t group) {
      int64_t done = 0;
      for (size_t r = groups[size_t(group)]; r < groups[size_t(group) + 1]; ++r) {
        const TTiedRun& run = runs[r];
        texts[worker].clear();
        rows[worker].clear();
        for (size_t i = run.Begin; i < run.End; ++i) {
          if (i + 16 < run.End) readers[worker].Prefetch(Rows_[i + 16].Number);
          const std::string_view text = readers[worker].SortText(Rows_[i].Number);
          rows[worker].push_back({texts[worker].size(), uint32_t(text.size()), Rows_[i].Number});
          texts[worker].append(text);
        }
        const std::string_view all = texts[worker];
        std::sort(rows[worker].begin(), rows[worker].end(), [&](const TText& a, const TText& b) {
          const int order = all.substr(a.Offset, a.Length).compare(all.substr(b.Offset, b.Length));
          return order != 0 ? (Descending_ ? order > 0 : order < 0) : a.Number < b.Number;
        });
        for (size_t i = run.Begin; i < run.End; ++i) Rows_[i].Number = rows[worker][i - run.Begin].Number;
        done += int64_t(run.End - run.Begin);
      }
      return done;
    });
  }
  // Reads the cells of the rows at `at` (all rows when null) and takes their chunk `pass`;
  // the first pass also takes their length and hash.
  bool Pass(size_t pass, const std::vector<uint32_t>* at, bool first) {
    const int64_t count = at ? int64_t(at->size()) : int64_t(Rows_.size());
    TCellReader readers[2] = {Reader(), Reader()};
    return ForBlocks(BlocksOf(count), Progress_, count, [&](int32_t worker, int64_t block) {
      const int64_t from = block * RowsPerBlock, to = std::min(count, from + RowsPerBlock);
      for (int64_t i = from; i < to; ++i) {
        TTextRow& row = Rows_[at ? (*at)[size_t(i)] : size_t(i)];
        if (i + 16 < to) readers[worker].Prefetch(Rows_[at ? (*at)[size_t(i + 16)] : size_t(i + 16)].Number);
        const std::string_view cell = readers[worker].SortText(row.Number);
        row.Chunk = ChunkOf(cell, pass, Descending_);
        if (first) {
          row.Length = uint32_t(cell.size());
          row.Hash = std::hash<std::string_view>()(cell);
        }
      }
      return to - from;
    });
  }
  // Appends the runs of [Begin, End) whose rows share their chunk and go on past `pass` chunks.
  void FindTies(const TTiedRun& within, size_t pass, std::vector<TTiedRun>& runs) const {
    for (size_t i = within.Begin; i < within.End;) {
      size_t j = i + 1;
      bool longer = Rows_[i].Length > pass * 8;
      while (j < within.End && Rows_[j].Chunk == Rows_[i].Chunk) longer |= Rows_[j++].Length > pass * 8;
      if (j - i > 1 && longer) runs.push_back({i, j, within.Checked});
      i = j;
    }
  }
  bool AllSame(const TTiedRun& run) const {
    for (size_t i = run.Begin + 1; i < run.End; ++i)
      if (Rows_[i].Length != Rows_[run.Begin].Length || Rows_[i].Hash != Rows_[run.Begin].Hash)
        return false;
    return true;
  }
  // Whether every row of the run shows the first row's text: the rows stay in capture order.
  bool EqualTexts(const TTiedRun& run) {
    TCellReader reader = Reader();
    const std::string first(reader.SortText(Rows_[run.Begin].Number));
    std::atomic<bool> equal{true};
    const int64_t count = int64_t(run.End - run.Begin - 1);
    TCellReader readers[2] = {Reader(), Reader()};
    ForBlocks(BlocksOf(count), {}, count, [&](int32_t worker, int64_t block) {
      const int64_t from = block * RowsPerBlock, to = std::min(count, from + RowsPerBlock);
      for (int64_t i = from; i < to && equal.load(std::memory_order_relaxed); ++i)
        if (readers[worker].SortText(Rows_[run.Begin + 1 + size_t(i)].Number) != first) equal = false;
      return to - from;
    });
    return equal;
  }

  size_t RunBudget_;
  std::vector<TTextRow> Rows_;
};

class TTextSort : TTextColumnSort {
 public:
  // `budget`: the memory the distinct texts may take, both workers together.
  TTextSort(const TFrameStore& store, int32_t view, int32_t column, const TDataOffsets& offsets,
            bool descending, const TRowsProgress& progress, size_t budget)
      : TTextColumnSort(store, view, column, offsets, descending, progress), Budget_(budget) {}

  bool Run(std::vector<uint32_t>& numbers, size_t& transient) {
    // Row i's key, first its text's tag (worker and id) and then its rank, above its number.
    std::vector<uint64_t> keys(numbers.size());
    TTextTable tables[2] = {TTextTable(Budget_ / 2), TTextTable(Budget_ / 2)};
    TCellReader readers[2] = {Reader(), Reader()};
    std::atomic<bool> full{false};
    const int64_t count = int64_t(numbers.size());
    const bool done = ForBlocks(BlocksOf(count), Progress_, count, [&](int32_t worker, int64_t block) {
      const int64_t from = block * RowsPerBlock, to = std::min(count, from + RowsPerBlock);
      for (int64_t i = from; i < to && !full.load(std::memory_order_relaxed); ++i) {
        if (i + 16 < to) readers[worker].Prefetch(numbers[size_t(i + 16)]);
        const uint32_t id = tables[worker].Id(readers[worker].SortText(numbers[size_t(i)]));
        if (id == TTextTable::NoId) full = true;
        keys[size_t(i)] = uint64_t(uint32_t(worker) << 31 | id) << 32 | numbers[size_t(i)];
      }
      return to - from;
    });
    transient = keys.capacity() * sizeof(uint64_t) + tables[0].Bytes() + tables[1].Bytes();
    if (!done) return false;
    if (full) {
      // Too many distinct texts to keep: compared a few bytes at a time instead.
      std::vector<uint64_t>().swap(keys);
      TTextTable dropped[2] = {TTextTable(0), TTextTable(0)};
      std::swap(tables, dropped);
      TChunkSort chunks(Store_, View_, Column_, Offsets_, Descending_, Progress_, Budget_ / 4);
      size_t held = 0;
      const bool sorted = chunks.Run(numbers, held);
      transient = std::max(transient, held);
      return sorted;
    }
    // The distinct texts in order; a text both workers met gets one rank.
    std::vector<TDistinct> distinct;
    distinct.reserve(size_t(tables[0].Count()) + tables[1].Count());
    for (uint32_t worker = 0; worker < 2; ++worker)
      for (uint32_t id = 0; id < tables[worker].Count(); ++id)
        distinct.push_back({tables[worker].Text(id), worker << 31 | id});
    SortInTwo(distinct);
    std::vector<uint32_t> ranks[2] = {std::vector<uint32_t>(tables[0].Count()),
                                      std::vector<uint32_t>(tables[1].Count())};
    uint32_t rank = 0;
    for (size_t i = 0; i < distinct.size(); ++i) {
      if (i > 0 && distinct[i].Text != distinct[i - 1].Text) ++rank;
      ranks[distinct[i].Tag >> 31][distinct[i].Tag & 0x7FFFFFFF] = rank;
    }
    transient += distinct.capacity() * sizeof(TDistinct) * 3 / 2 + distinct.size() * 4;
    for (uint64_t& key : keys) {
      const uint32_t tag = uint32_t(key >> 32);
      uint32_t at = ranks[tag >> 31][tag & 0x7FFFFFFF];
      // Falling: the ranks turn round, the numbers do not, so equal texts keep capture order.
      if (Descending_) at = rank - at;
      key = uint64_t(at) << 32 | uint32_t(key);
    }
    // The keys, the merge's half buffer, and the tables still held.
    transient = std::max(transient, keys.capacity() * sizeof(uint64_t) * 3 / 2 +
                                        tables[0].Bytes() + tables[1].Bytes());
    SortInTwo(keys);
    for (size_t i = 0; i < numbers.size(); ++i) numbers[i] = uint32_t(keys[i]);
    return true;
  }

 private:
  size_t Budget_;
};
}  // namespace

bool TShownViews::SortNumbers(const TCapturePipeline& capture, int32_t view, int32_t column,
                              bool descending, const TOffsets& offsets,
                              std::vector<uint32_t>& numbers, const TRowsProgress& progress) {
  const TSortKind kind = SortKindOf(view, column);
  const TFrameStore& store = capture.Store();
  if (kind == TSortKind::Text || kind == TSortKind::Address) {
    TTextSort sort(store, view, column, offsets, descending, progress, TextBudget_);
    size_t transient = 0;
    const bool done = sort.Run(numbers, transient);
    PeakTransient_ = std::max(PeakTransient_, transient);
    return done;
  }
  std::vector<TKeyRow> rows(numbers.size());
  TCellReader readers[2] = {{store, view, column, offsets}, {store, view, column, offsets}};
  const int64_t count = int64_t(numbers.size());
  const bool done = ForBlocks(BlocksOf(count), progress, count, [&](int32_t worker, int64_t block) {
    const int64_t from = block * RowsPerBlock, to = std::min(count, from + RowsPerBlock);
    for (int64_t i = from; i < to; ++i) {
      if (i + 16 < to) readers[worker].Prefetch(numbers[size_t(i + 16)]);
      rows[size_t(i)] = {readers[worker].Key(kind, numbers[size_t(i)], descending), numbers[size_t(i)]};
    }
    return to - from;
  });
  // The keys, and the half of them the merge borrows.
  PeakTransient_ = std::max(PeakTransient_, rows.capacity() * sizeof(TKeyRow) * 3 / 2);
  if (!done) return false;
  SortInTwo(rows);
  for (size_t i = 0; i < rows.size(); ++i) numbers[i] = rows[i].Number;
  return true;
}

void TShownViews::MergeSorted(const TCapturePipeline& capture, int32_t view, TShownRows& rows,
                              std::vector<uint32_t>& added) {
  const int32_t column = rows.SortColumn_;
  const TSortKind kind = SortKindOf(view, column);
  const bool descending = rows.Descending_;
  TCellReader reader(capture.Store(), view, column, rows.Offsets_);
  std::vector<uint32_t>& shown = rows.Numbers_;
  // Where each new frame goes: after every row that sorts before or with it, since it is newer
  // than all of them. The new frames are sorted first, so each search starts at the last place.
  std::vector<size_t> places(added.size());
  auto place = [&](auto keyOf, auto less) {
    using TKey = decltype(keyOf(0u));
    std::vector<std::pair<TKey, uint32_t>> keyed;
    for (uint32_t number : added) keyed.emplace_back(keyOf(number), number);
    std::stable_sort(keyed.begin(), keyed.end(),
                     [&](const auto& a, const auto& b) { return less(a.first, b.first); });
    size_t from = 0;
    for (size_t j = 0; j < keyed.size(); ++j) {
      size_t low = from, high = shown.size();
      while (low < high) {
        const size_t middle = low + (high - low) / 2;
        if (less(keyed[j].first, keyOf(shown[middle])))
          high = middle;
        else
          low = middle + 1;
      }
      places[j] = from = low;
      added[j] = keyed[j].second;
    }
  };
  if (kind == TSortKind::Text || kind == TSortKind::Address)
    place([&](uint32_t number) { return std::string(reader.SortText(number)); },
          [&](const std::string& a, const std::string& b) { return descending ? b < a : a < b; });
  else
    place([&](uint32_t number) { return reader.Key(kind, number, descending); },
          [](uint64_t a, uint64_t b) { return a < b; });
  // Moves the rows up from the end, each by the number of new frames placed before it.
  const size_t old = shown.size();
  shown.resize(old + added.size());
  size_t source = old;
  for (size_t j = added.size(); j-- > 0;) {
    while (source > places[j]) {
      --source;
      shown[source + j + 1] = shown[source];
    }
    shown[places[j] + j] = added[j];
  }
}
