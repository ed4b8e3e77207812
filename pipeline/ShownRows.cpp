#include "pipeline/ShownRows.h"

#include <pcap/pcap.h>

#include <algorithm>
#include <atomic>
#include <cstring>

#include "pipeline/CapturePipeline.h"
#include "pipeline/RowWork.h"

// ---- Display filter ---------------------------------------------------------------------------

struct TDisplayFilter::TProgram {
  int32_t LinkType = 0;
  // False for a link type the expression does not compile for.
  bool Compiled = false;
  bpf_program Code{};
  // The program of the next link type met, published once whole.
  std::atomic<TProgram*> Next{nullptr};
  ~TProgram() {
    pcap_freecode(&Code);
    delete Next.load(std::memory_order_relaxed);
  }
};

TDisplayFilter::TDisplayFilter() = default;
TDisplayFilter::~TDisplayFilter() = default;

namespace {
bool Blank(const std::string& text) {
  return text.find_first_not_of(" \t\r\n") == std::string::npos;
}

// Compiles `expression` into `code` for `linkType`; false with libpcap's message in `error`.
bool CompileFor(const std::string& expression, int32_t linkType, int32_t snapLen,
                bpf_program& code, std::string& error) {
  // A dead handle is all pcap_compile needs: the link type decides how headers are found and
  // the snapshot length bounds the program's loads, as for a capture of that file.
  pcap_t* dead = pcap_open_dead(linkType, snapLen);
  if (!dead) {
    error = "libpcap cannot compile filters for this link type";
    return false;
  }
  // The netmask is unknown: the file does not carry one. Only "ip broadcast" needs it, and
  // libpcap then refuses the expression with its own message, as tcpdump -r does.
  const bool compiled =
      pcap_compile(dead, &code, expression.c_str(), 1, PCAP_NETMASK_UNKNOWN) == 0;
  if (!compiled) error = pcap_geterr(dead);
  pcap_close(dead);
  return compiled;
}
}  // namespace

bool TDisplayFilter::Compile(const std::string& expression, int32_t linkType, int32_t snapLen) {
  if (Blank(expression)) {
    Program_.reset();
    Expression_.clear();
    Error_.clear();
    return true;
  }
  auto program = std::make_unique<TProgram>();
  if (!CompileFor(expression, linkType, snapLen, program->Code, Error_)) return false;
  program->LinkType = linkType;
  program->Compiled = true;
  Program_ = std::move(program);
  SnapLen_ = snapLen;
  Expression_ = expression;
  Error_.clear();
  return true;
}

bool TDisplayFilter::Empty() const { return !Program_; }

const TDisplayFilter::TProgram& TDisplayFilter::ProgramFor(int32_t linkType) const {
  std::lock_guard lock(CompileLock_);
  // Another thread may have compiled it since this one looked.
  TProgram* last = Program_.get();
  for (TProgram* next; (next = last->Next.load(std::memory_order_relaxed)); last = next)
    if (next->LinkType == linkType) return *next;
  auto program = std::make_unique<TProgram>();
  program->LinkType = linkType;
  // The expression compiled for the capture's first link type, so one that does not compile
  // for this one (an Ethernet address where frames carry none) cannot pass its frames: they
  // do not match, and the filter stays in force for the others.
  std::string error;
  program->Compiled = CompileFor(Expression_, linkType, SnapLen_, program->Code, error);
  last->Next.store(program.get(), std::memory_order_release);
  return *program.release();
}

bool TDisplayFilter::Matches(const TFrame& frame) const {
  if (!Program_) return true;
  if (!frame.Readable) return false;
  const TProgram* program = Program_.get();
  while (program && program->LinkType != frame.LinkType)
    program = program->Next.load(std::memory_order_acquire);
  if (!program) program = &ProgramFor(frame.LinkType);
  if (!program->Compiled) return false;
  // libpcap's header has a wider time stamp than the file's; the program reads only the lengths.
  pcap_pkthdr header{};
  header.caplen = frame.PktHdr.caplen;
  header.len = frame.PktHdr.len;
  return pcap_offline_filter(&program->Code, &header, frame.Bytes) != 0;
}

void TDisplayFilter::Swap(TDisplayFilter& other) {
  std::swap(Program_, other.Program_);
  std::swap(SnapLen_, other.SnapLen_);
  std::swap(Expression_, other.Expression_);
  std::swap(Error_, other.Error_);
}

// ---- One view's rows --------------------------------------------------------------------------

TPacketList TShownRows::Items(const TNodeList& list, const TFrameStore& store) const {
  if (!Own()) return list.Items(store);
  return {Numbers_.data(), Numbers_.size(), &store};
}

int32_t TShownRows::Count(const TNodeList& list) const {
  return Own() ? int32_t(Numbers_.size()) : list.Count();
}

int32_t TShownRows::RowOf(int32_t index, const TNodeList& list) const {
  const uint32_t number = uint32_t(index);
  const uint32_t* first = Own() ? Numbers_.data() : list.Numbers();
  const uint32_t* last = first + Count(list);
  if (!Sorted()) {
    // Capture order: the numbers rise, as they were filed.
    const uint32_t* found = std::lower_bound(first, last, number);
    return found != last && *found == number ? int32_t(found - first) : -1;
  }
  const uint32_t* found = std::find(first, last, number);
  return found != last ? int32_t(found - first) : -1;
}

size_t TShownRows::Bytes() const { return Numbers_.capacity() * sizeof(uint32_t); }

void TShownRows::Drop() {
  std::vector<uint32_t>().swap(Numbers_);
  Taken_ = 0;
  Filtered_ = false;
  SortColumn_ = -1;
  Descending_ = false;
}

// ---- The eight views --------------------------------------------------------------------------

TPacketList TShownViews::Items(const TCapturePipeline& capture, int32_t view) const {
  return Views_[size_t(view)].Items(capture.List(view), capture.Store());
}

int32_t TShownViews::Count(const TCapturePipeline& capture, int32_t view) const {
  return Views_[size_t(view)].Count(capture.List(view));
}

size_t TShownViews::Bytes() const {
  size_t bytes = 0;
  for (const TShownRows& view : Views_) bytes += view.Bytes();
  return bytes;
}

void TShownViews::Reset() {
  for (TShownRows& view : Views_) {
    view.Drop();
    // The expression stays: the frames that come are filtered by it from the first one.
    view.Filtered_ = !Filter_.Empty();
  }
}

namespace {
// One bit a frame of the store, set for the frames the filter passes; frame n is bit n.
class TFrameBits {
 public:
  explicit TFrameBits(int32_t frames) : Words_(size_t(frames) / 64 + 1, 0) {}
  bool Test(uint32_t number) const { return Words_[number / 64] >> (number % 64) & 1; }
  // Frames from `first` to `last` (inclusive), a whole number of 64-frame words, so that two
  // threads never write the same word.
  void Fill(const TDisplayFilter& filter, const TFrameStore& store, int32_t first,
            int32_t last) {
    constexpr int32_t Ahead = 16;
    for (int32_t number = first; number <= last; ++number) {
      store.Prefetch(number + Ahead);
      if (filter.Matches(store.Frame(number)))
        Words_[size_t(number) / 64] |= uint64_t(1) << (number % 64);
    }
  }

 private:
  std::vector<uint64_t> Words_;
};
}  // namespace

bool TShownViews::ApplyFilter(const TCapturePipeline& capture, const std::string& expression,
                              std::string& error, const TRowsProgress& progress) {
  error.clear();
  TDisplayFilter filter;
  if (!filter.Compile(expression, capture.LinkType(), capture.SnapLength())) {
    error = filter.Error();
    return false;
  }
  const TFrameStore& store = capture.Store();
  std::array<int32_t, ViewCount> counts{};
  for (int32_t view = 0; view < ViewCount; ++view) counts[size_t(view)] = capture.List(view).Count();
  // Every frame of the lists is in the store; the store may be ahead of them while a capture
  // files a frame, which the next Extend takes in.
  const int32_t frames = store.Count();

  std::array<std::vector<uint32_t>, ViewCount> shown;
  std::array<bool, ViewCount> keep{};
  if (!filter.Empty()) {
    TFrameBits passes(frames);
    // Blocks of whole 64-frame words, so that each bit word has one writer.
    constexpr int64_t Block = 64 * 1024;
    const bool done = ForBlocks(
        (int64_t(frames) + Block) / Block, progress, int64_t(frames),
        [&](int32_t, int64_t block) {
          const int64_t first = std::max<int64_t>(block * Block, 1);
          const int64_t last = std::min<int64_t>((block + 1) * Block - 1, frames);
          if (first <= last) passes.Fill(filter, store, int32_t(first), int32_t(last));
          return std::min<int64_t>(Block, std::max<int64_t>(last - first + 1, 0));
        });
    if (!done) return false;
    // The eight lists, each in pieces, on both threads: the rows each piece passes are
    // counted, then written to where the pieces before them end.
    struct TPiece {
      int32_t View, From, To;
      size_t At = 0;
    };
    std::vector<TPiece> pieces;
    for (int32_t view = 0; view < ViewCount; ++view)
      for (int32_t from = 0; from < counts[size_t(view)]; from += int32_t(RowsPerBlock) * 16)
        pieces.push_back({view, from, int32_t(std::min<int64_t>(counts[size_t(view)], int64_t(from) + RowsPerBlock * 16))});
    auto each = [&](auto&& work) {
      ForBlocks(int64_t(pieces.size()), {}, 0, [&](int32_t, int64_t at) {
        TPiece& piece = pieces[size_t(at)];
        const uint32_t* numbers = capture.List(piece.View).Numbers();
        work(piece, numbers);
        return int64_t(0);
      });
    };
    each([&](TPiece& piece, const uint32_t* numbers) {
      for (int32_t row = piece.From; row < piece.To; ++row) piece.At += passes.Test(numbers[row]);
    });
    std::array<size_t, ViewCount> passed{};
    for (TPiece& piece : pieces) {
      const size_t count = piece.At;
      piece.At = passed[size_t(piece.View)];
      passed[size_t(piece.View)] += count;
    }
    for (int32_t view = 0; view < ViewCount; ++view) shown[size_t(view)].resize(passed[size_t(view)]);
    each([&](TPiece& piece, const uint32_t* numbers) {
      uint32_t* rows = shown[size_t(piece.View)].data() + piece.At;
      for (int32_t row = piece.From; row < piece.To; ++row)
        if (passes.Test(numbers[row])) *rows++ = numbers[row];
    });
  } else {
    for (int32_t view = 0; view < ViewCount; ++view) {
      // Without a filter an unsorted view shows its list and needs no rows of its own.
      if (!Views_[size_t(view)].Sorted()) continue;
      const uint32_t* numbers = capture.List(view).Numbers();
      shown[size_t(view)].assign(numbers, numbers + counts[size_t(view)]);
    }
  }
  // A sorted view keeps its column: its new rows are sorted by it again.
  for (int32_t view = 0; view < ViewCount; ++view) {
    const TShownRows& rows = Views_[size_t(view)];
    keep[size_t(view)] = rows.Sorted();
    if (!rows.Sorted()) continue;
    if (!SortNumbers(capture, view, rows.SortColumn_, rows.Descending_, rows.Offsets_,
                     shown[size_t(view)], progress))
      return false;
  }
  // Nothing can fail from here on: the views change together.
  Filter_.Swap(filter);
  for (int32_t view = 0; view < ViewCount; ++view) {
    TShownRows& rows = Views_[size_t(view)];
    rows.Numbers_ = std::move(shown[size_t(view)]);
    rows.Filtered_ = !Filter_.Empty();
    rows.Taken_ = counts[size_t(view)];
    if (!keep[size_t(view)] && !rows.Filtered_) rows.Drop();
  }
  return true;
}

bool TShownViews::Sort(const TCapturePipeline& capture, int32_t view, int32_t column,
                       bool descending, const TOffsets& offsets, const TRowsProgress& progress) {
  TShownRows& rows = Views_[size_t(view)];
  const TNodeList& list = capture.List(view);
  if (column < 0) {
    if (rows.Filtered_) {
      // Capture order is the order of the frame numbers.
      if (rows.Sorted()) std::sort(rows.Numbers_.begin(), rows.Numbers_.end());
      rows.SortColumn_ = -1;
      rows.Descending_ = false;
    } else {
      rows.Drop();
    }
    return true;
  }
  std::vector<uint32_t> numbers;
  int32_t taken = rows.Taken_;
  if (rows.Own()) {
    numbers = rows.Numbers_;
  } else {
    taken = list.Count();
    numbers.assign(list.Numbers(), list.Numbers() + taken);
  }
  if (!SortNumbers(capture, view, column, descending, offsets, numbers, progress)) return false;
  rows.Numbers_ = std::move(numbers);
  rows.Taken_ = taken;
  rows.SortColumn_ = column;
  rows.Descending_ = descending;
  rows.Offsets_ = offsets;
  return true;
}

void TShownViews::Extend(const TCapturePipeline& capture, const TOffsets& offsets) {
  (void)offsets;  // a sorted view keeps the offsets it was sorted with, as its rows show them
  const TFrameStore& store = capture.Store();
  // A frame is tested once however many views take it in: the verdicts of the new frames,
  // from the lowest number any view takes in.
  uint32_t lowest = UINT32_MAX;
  for (int32_t view = 0; view < ViewCount; ++view) {
    TShownRows& rows = Views_[size_t(view)];
    const TNodeList& list = capture.List(view);
    if (!rows.Own()) continue;
    if (list.Count() < rows.Taken_) {
      // The capture was emptied under the view: start again from its first row.
      const bool filtered = rows.Filtered_;
      rows.Drop();
      rows.Filtered_ = filtered;
    }
    if (list.Count() > rows.Taken_) lowest = std::min(lowest, list.Numbers()[rows.Taken_]);
  }
  if (lowest == UINT32_MAX) return;
  std::vector<uint8_t> verdicts;  // 0 untested, 1 passes, 2 fails; frame lowest + i
  auto passes = [&](uint32_t number) {
    const size_t at = number - lowest;
    if (at >= verdicts.size()) verdicts.resize(at + 1, 0);
    if (!verdicts[at]) verdicts[at] = Filter_.Matches(store.Frame(int32_t(number))) ? 1 : 2;
    return verdicts[at] == 1;
  };
  for (int32_t view = 0; view < ViewCount; ++view) {
    TShownRows& rows = Views_[size_t(view)];
    if (!rows.Own()) continue;
    const TNodeList& list = capture.List(view);
    const int32_t count = list.Count();
    std::vector<uint32_t> added;
    for (int32_t row = rows.Taken_; row < count; ++row) {
      const uint32_t number = list.Numbers()[row];
      if (!rows.Filtered_ || passes(number)) added.push_back(number);
    }
    rows.Taken_ = count;
    if (added.empty()) continue;
    if (rows.Sorted())
      MergeSorted(capture, view, rows, added);
    else
      rows.Numbers_.insert(rows.Numbers_.end(), added.begin(), added.end());
  }
}
