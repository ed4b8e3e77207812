#pragma once
// What the eight views show of a capture: every frame of their lists in capture order, or
// only the frames a display filter passes, and in capture order or sorted by a column.
//
// A view that is neither filtered nor sorted shows its list itself and costs nothing. A
// filtered or sorted view holds its own array of frame numbers (4 bytes a row, the same
// 32-bit references the lists hold, never copies of frames), so that row r of the view is
// frame Numbers[r] of the store and every consumer of rows (row texts, find, copy, export,
// follow) takes the view as a TPacketList like any list.
//
// The display filter is libpcap's own engine: the expression is compiled on a dead handle
// with the capture's link type and snapshot length and run with pcap_offline_filter on each
// stored frame, so a filter passes exactly the frames tcpdump's would. A pcapng file's frames
// may have several link types: the expression is compiled for each at its first frame. A frame
// is tested once for all eight views.
//
// Nothing here knows a widget; the window, the tools and the benchmarks use it alike. All
// calls come from one thread (the window's); a running capture only appends to the lists,
// and Extend takes the new rows in.
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "presentation/CellText.h"
#include "presentation/PacketLists.h"
#include "presentation/Views.h"

class TCapturePipeline;

// A compiled display filter: one program for each link type its frames have.
class TDisplayFilter {
 public:
  TDisplayFilter();
  ~TDisplayFilter();
  TDisplayFilter(const TDisplayFilter&) = delete;
  TDisplayFilter& operator=(const TDisplayFilter&) = delete;

  // Compiles `expression` for frames of link type `linkType` cut to `snapLen` bytes. False,
  // with libpcap's message in Error() and the filter unchanged, for an expression libpcap
  // refuses. An empty (or blank) expression compiles to no filter at all: Empty() is true.
  // Frames of another link type get the expression compiled for theirs, with the same
  // snapshot length, when Matches first meets one.
  bool Compile(const std::string& expression, int32_t linkType, int32_t snapLen);
  bool Empty() const;
  const std::string& Expression() const { return Expression_; }
  const std::string& Error() const { return Error_; }
  // Whether the filter passes `frame`; an unreadable frame never passes, no filter passes all.
  // A frame of a link type the expression does not compile for does not pass. Two threads may
  // ask at once.
  bool Matches(const TFrame& frame) const;
  // Exchanges two compiled filters: a new one replaces the one in use only once it applies.
  // Not while either is matching.
  void Swap(TDisplayFilter& other);

 private:
  struct TProgram;
  // The program of `linkType`, compiled now when no thread has yet.
  const TProgram& ProgramFor(int32_t linkType) const;
  // The first link type's program, then each further one in the order they were met: a
  // list that Matches reads without a lock and ProgramFor appends to under CompileLock_.
  std::unique_ptr<TProgram> Program_;
  int32_t SnapLen_ = 0;
  mutable std::mutex CompileLock_;
  std::string Expression_;
  std::string Error_;
};

// Progress of a long operation: done out of total; returns false to cancel it.
using TRowsProgress = std::function<bool(int64_t done, int64_t total)>;

// How column `column` of view `view` sorts, as the table of views says (TColumnSpec::Sort):
// numbers as numbers, hexadecimal fields by their value, addresses by their bytes, times by
// the capture time, the rest as text (bytes).
TSortKind SortKindOf(int32_t view, int32_t column);

// Where the Data columns of the TCP and UDP views start in their payloads: the window's
// data offsets, which decide what a Data cell shows and so how it sorts.
struct TDataOffsets {
  int32_t TCPData = 0;
  int32_t UDPData = 0;
};

// The rows of one view as it is shown.
class TShownRows {
 public:
  // Row r is frame Numbers()[r]; when neither filtered nor sorted, the view's list itself.
  TPacketList Items(const TNodeList& list, const TFrameStore& store) const;
  int32_t Count(const TNodeList& list) const;
  bool Filtered() const { return Filtered_; }
  bool Sorted() const { return SortColumn_ >= 0; }
  int32_t SortColumn() const { return SortColumn_; }
  bool Descending() const { return Descending_; }
  // The row that shows frame `index` (its number in the store, the Index column), or -1.
  int32_t RowOf(int32_t index, const TNodeList& list) const;
  // Memory the view holds beyond its list.
  size_t Bytes() const;

 private:
  friend class TShownViews;
  bool Own() const { return Filtered_ || SortColumn_ >= 0; }
  // Back to the list itself: no rows of its own, no filter, no sort.
  void Drop();
  std::vector<uint32_t> Numbers_;
  // List rows taken in so far (Extend continues from here).
  int32_t Taken_ = 0;
  bool Filtered_ = false;
  int32_t SortColumn_ = -1;
  bool Descending_ = false;
  // The data offsets the view was sorted with: rows taken in later are placed by the same texts.
  TDataOffsets Offsets_;
};

// The eight views of one capture as shown.
class TShownViews {
 public:
  // Row texts a sort needs: the window's data offsets.
  using TOffsets = TDataOffsets;

  const TShownRows& View(int32_t view) const { return Views_[size_t(view)]; }
  TPacketList Items(const TCapturePipeline& capture, int32_t view) const;
  int32_t Count(const TCapturePipeline& capture, int32_t view) const;
  const TDisplayFilter& Filter() const { return Filter_; }

  // Compiles `expression` for `capture` and narrows every view to the frames it passes; an
  // empty expression shows every frame again. A refused expression changes nothing: false,
  // with libpcap's message in `error`. Cancelled (progress false): nothing changes either,
  // false with an empty `error`. A sorted view stays sorted by its column.
  bool ApplyFilter(const TCapturePipeline& capture, const std::string& expression,
                   std::string& error, const TRowsProgress& progress = {});
  // Sorts view `view` by column `column` (as the row texts number them: 0 is Index), rising
  // or, with `descending`, falling; rows whose cells are equal stay in capture order. Column
  // -1 restores capture order. False when cancelled: the view is then as it was.
  bool Sort(const TCapturePipeline& capture, int32_t view, int32_t column, bool descending,
            const TOffsets& offsets, const TRowsProgress& progress = {});
  // Takes in the frames a running capture filed since the last call: those the filter passes
  // are appended, or placed by the sort column in a sorted view.
  void Extend(const TCapturePipeline& capture, const TOffsets& offsets);
  // A new or emptied capture: no filter rows, no sort; the filter expression is kept and
  // applies to the frames that come.
  void Reset();
  // Memory held beyond the lists, for the benchmarks.
  size_t Bytes() const;
  // The most memory the last Sort or ApplyFilter held for a while beyond what it kept, for
  // the benchmarks.
  size_t PeakTransientBytes() const { return PeakTransient_; }
  // The most memory a sort by a text column keeps of the distinct texts it meets (64 MiB
  // unless set). A column with more (payloads that hardly repeat) is sorted by comparing a
  // few bytes of every row a pass instead, and its tied rows by their whole texts in pieces
  // of a quarter of this.
  void SetTextBudget(size_t bytes) { TextBudget_ = bytes; }

 private:
  // Puts the frames `numbers` of view `view` in the order of column `column`, equal cells in
  // capture order; false, with `numbers` as they were, when cancelled.
  bool SortNumbers(const TCapturePipeline& capture, int32_t view, int32_t column,
                   bool descending, const TOffsets& offsets, std::vector<uint32_t>& numbers,
                   const TRowsProgress& progress);
  // Places the frames `added` (newer than every row of the sorted view `rows`) by its column.
  void MergeSorted(const TCapturePipeline& capture, int32_t view, TShownRows& rows,
                   std::vector<uint32_t>& added);

  size_t PeakTransient_ = 0;
  size_t TextBudget_ = size_t(64) << 20;
  TDisplayFilter Filter_;
  std::array<TShownRows, ViewCount> Views_;
};

// ---- Find -------------------------------------------------------------------------------------

struct TFindQuery {
  // A text, or with Hex, bytes written as hex digits ("47 45 54", "474554", "47:45:54").
  std::string Text;
  bool Hex = false;
  bool MatchCase = false;
  // Search the cells of these columns (as the row texts number them); empty for every column.
  std::vector<int32_t> Columns;
};

struct TFindResult {
  int32_t Row = -1;      // the row found, or -1 when none holds the query
  bool Wrapped = false;  // the search passed the end (or the start) and went on from the other
  bool Cancelled = false;
};

// Parses the hex bytes of a query; false for text that is not whole bytes of hex digits.
bool ParseHexBytes(const std::string& text, std::string& bytes);

// Finds the next row of `list` (a view numbered `view`) after `from` (before it, when not
// `forward`), going round past the end once, whose cells hold the query's text or whose
// payload holds its text or bytes. A hex query is searched in the payload of the TCP, UDP,
// TCP Data and UDP Data views and in the frame's captured bytes in the others; a text query in
// the cells and in the payload. `from` -1 starts at the first row (forward) or the last.
TFindResult FindRow(int32_t view, const TPacketList& list, int32_t from, bool forward,
                    const TFindQuery& query, const TShownViews::TOffsets& offsets,
                    const TRowsProgress& progress = {});
