// Find: the next row whose cells or payload hold a text, or whose payload or bytes hold some
// bytes, searched on two threads in blocks taken in search order, the first match winning.
#include <atomic>
#include <cstring>
#include <string_view>

#include "pipeline/RowWork.h"
#include "platform/IntegerText.h"
#include "pipeline/ShownRows.h"
#include "presentation/PayloadText.h"

bool ParseHexBytes(const std::string& text, std::string& bytes) {
  const auto digit = platform::HexDigitValue;
  std::string parsed;
  for (size_t i = 0; i < text.size();) {
    const char c = text[i];
    if (c == ' ' || c == '\t' || c == ':' || c == '-') {
      ++i;
      continue;
    }
    // A byte is two digits together: a separator inside one, or a lone digit, is refused.
    if (i + 1 >= text.size() || digit(c) < 0 || digit(text[i + 1]) < 0) return false;
    parsed.push_back(char(digit(c) << 4 | digit(text[i + 1])));
    i += 2;
  }
  if (parsed.empty()) return false;
  bytes = std::move(parsed);
  return true;
}

namespace {
char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

// Whether `text` holds `needle` (already lower case when not `matchCase`), ASCII letters
// compared without case unless `matchCase`. memchr finds the candidates in both cases of the
// first character, which keeps a search that fails everywhere fast.
bool Holds(std::string_view text, std::string_view needle, bool matchCase) {
  if (needle.size() > text.size()) return false;
  if (matchCase) return text.find(needle) != std::string_view::npos;
  const char lower = needle[0];
  const char upper = lower >= 'a' && lower <= 'z' ? char(lower - 'a' + 'A') : lower;
  const char* p = text.data();
  const char* last = text.data() + text.size() - needle.size();
  while (p <= last) {
    const size_t left = size_t(last - p) + 1;
    const char* a = static_cast<const char*>(std::memchr(p, lower, left));
    const char* b = upper != lower ? static_cast<const char*>(std::memchr(p, upper, left)) : nullptr;
    const char* candidate = !a ? b : !b ? a : std::min(a, b);
    if (!candidate) return false;
    size_t i = 1;
    while (i < needle.size() && LowerAscii(candidate[i]) == needle[i]) ++i;
    if (i == needle.size()) return true;
    p = candidate + 1;
  }
  return false;
}

class TRowMatcher {
 public:
  TRowMatcher(int32_t view, const TFindQuery& query, const std::string& needle,
              const TDataOffsets& offsets)
      : View_(view), Query_(query), Needle_(needle), Offsets_(offsets) {}

  bool Matches(const TPacketList& list, int32_t row) {
    const TFrame frame = list[size_t(row)];
    if (Query_.Hex) {
      if (!frame.Readable) return false;
      // Bytes are looked for where they are bytes: the payload under the payload views, the
      // whole captured frame elsewhere.
      const std::string_view bytes =
          HasPayloadPane(View_) ? TransportPayload(View_, frame)
                             : std::string_view(reinterpret_cast<const char*>(frame.Data()),
                                                frame.PktHdr.caplen);
      return bytes.find(Needle_) != std::string_view::npos;
    }
    ViewRowText(View_, list, row, Offsets_.TCPData, Offsets_.UDPData, Row_);
    if (Query_.Columns.empty()) {
      for (const std::string& cell : Row_)
        if (Holds(cell, Needle_, Query_.MatchCase)) return true;
    } else {
      for (int32_t column : Query_.Columns)
        if (column >= 0 && size_t(column) < Row_.Count() &&
            Holds(Row_[size_t(column)], Needle_, Query_.MatchCase))
          return true;
    }
    return HasPayloadPane(View_) && Holds(TransportPayload(View_, frame), Needle_, Query_.MatchCase);
  }

 private:
  int32_t View_;
  const TFindQuery& Query_;
  const std::string& Needle_;
  TDataOffsets Offsets_;
  TRowText Row_;
};
}  // namespace

TFindResult FindRow(int32_t view, const TPacketList& list, int32_t from, bool forward,
                    const TFindQuery& query, const TShownViews::TOffsets& offsets,
                    const TRowsProgress& progress) {
  TFindResult result;
  const int64_t count = int64_t(list.size());
  std::string needle;
  if (count == 0) return result;
  if (query.Hex) {
    if (!ParseHexBytes(query.Text, needle)) return result;
  } else {
    needle = query.Text;
    if (needle.empty()) return result;
    if (!query.MatchCase)
      for (char& c : needle) c = LowerAscii(c);
  }
  // The k-th row searched, k from 0 to count - 1, `from` itself last.
  const int64_t start = from >= 0 && from < count ? from : forward ? -1 : count;
  auto rowAt = [&](int64_t k) {
    return forward ? (start + 1 + k) % count : ((start - 1 - k) % count + count) % count;
  };
  std::atomic<int64_t> found{count};  // the least k that matched
  TRowMatcher matchers[2] = {{view, query, needle, offsets}, {view, query, needle, offsets}};
  const bool done = ForBlocks(BlocksOf(count), progress, count, [&](int32_t worker, int64_t block) {
    const int64_t first = block * RowsPerBlock, last = std::min(count, first + RowsPerBlock);
    for (int64_t k = first; k < last && k < found.load(std::memory_order_relaxed); ++k) {
      const int64_t row = rowAt(k);
      list.Prefetch(size_t(rowAt(k + 16)));
      if (matchers[worker].Matches(list, int32_t(row))) {
        // Blocks are taken in order, but the other thread may hold an earlier one.
        int64_t known = found.load();
        while (k < known && !found.compare_exchange_weak(known, k)) {
        }
        break;
      }
    }
    return last - first;
  });
  const int64_t k = found.load();
  if (k < count) {
    result.Row = int32_t(rowAt(k));
    result.Wrapped = forward ? start + 1 + k >= count : start - 1 - k < 0;
    return result;
  }
  result.Cancelled = !done;
  return result;
}
