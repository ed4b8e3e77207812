#pragma once
// What the fuzz targets share: reading fields off the front of an input, the check that turns
// a broken property into a finding, and the column count a row of each view must have.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>

#include "presentation/PayloadText.h"
#include "presentation/Views.h"

// A broken property aborts, which libFuzzer reports as a crash and keeps the input for.
#define FUZZ_CHECK(condition)                                                            \
  do {                                                                                   \
    if (!(condition)) {                                                                  \
      std::fprintf(stderr, "%s:%d: property does not hold: %s\n", __FILE__, __LINE__, \
                   #condition);                                                          \
      std::abort();                                                                      \
    }                                                                                    \
  } while (0)

// Fields taken off the front of an input; an input too short for a field gives zero bytes.
class FuzzInput {
 public:
  FuzzInput(const uint8_t* data, size_t size) : Data_(data), Size_(size) {}

  uint8_t Byte() {
    uint8_t b = 0;
    Take(&b, 1);
    return b;
  }
  // Little-endian, any value: offsets drawn this way are negative and huge as often as small.
  int32_t Int32() {
    uint8_t b[4] = {};
    Take(b, 4);
    return int32_t(uint32_t(b[0]) | uint32_t(b[1]) << 8 | uint32_t(b[2]) << 16 |
                   uint32_t(b[3]) << 24);
  }
  uint32_t UInt32() { return uint32_t(Int32()); }
  // Whatever is left.
  std::basic_string_view<uint8_t> Rest() const { return {Data_, Size_}; }

 private:
  void Take(uint8_t* out, size_t n) {
    const size_t k = n < Size_ ? n : Size_;
    if (k) std::memcpy(out, Data_, k);
    Data_ += k;
    Size_ -= k;
  }
  const uint8_t* Data_;
  size_t Size_;
};

// The number of columns of a view: every row it shows has exactly this many cells.
inline size_t ViewColumnCount(int32_t view) {
  size_t n = 0;
  for (int32_t group : ViewSpecs[size_t(view)].Groups) n += ColumnGroup(group).size();
  return n;
}

// The payload pane of a row as text and as hex dump, checked against each other: the text is
// the leading bytes of what the dump shows, up to the first zero byte, so it can never be
// longer than the dump's lines hold, and the pane's lines are made of it without error.
inline void CheckPayloadPane(int32_t view, const TFrame& node, int32_t dataOffset) {
  const std::string text = PayloadText(view, node, dataOffset, false);
  const std::string dump = PayloadText(view, node, dataOffset, true);
  FUZZ_CHECK(std::memchr(text.data(), 0, text.size()) == nullptr);
  size_t lines = dump.empty() ? 0 : 1;
  for (char c : dump) lines += c == '\n';
  FUZZ_CHECK(text.size() <= lines * 16);
  FUZZ_CHECK(text.empty() || !dump.empty());
  FUZZ_CHECK(PaneLines(text).size() <= text.size());
}
