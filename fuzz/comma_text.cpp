// The comma text of the filter history: any list of entries is written and read back as
// itself, a length limit keeps exactly the leading entries whose line fits, and reading any
// text at all gives entries that themselves read back through a written line unchanged.
//
// Input: one byte choosing the length limit (0: none, n: n - 1 characters), then the entries,
// each ended by a NUL byte (the last one may lack it). A NUL ends the line in the text format,
// so no entry holds one. The whole input is also read as a line.
#include <algorithm>
#include <cstdint>
#include <limits>
#include <string>
#include <string_view>
#include <vector>

#include "fuzz/FuzzSupport.h"
#include "platform/CommaText.h"

using platform::CommaText;
using platform::ParseCommaText;

namespace {
std::vector<std::string> Entries(std::string_view bytes) {
  std::vector<std::string> entries;
  while (!bytes.empty()) {
    const size_t nul = bytes.find('\0');
    entries.emplace_back(bytes.substr(0, nul));
    bytes.remove_prefix(nul == std::string_view::npos ? bytes.size() : nul + 1);
  }
  return entries;
}

std::vector<std::string> Leading(const std::vector<std::string>& list, size_t count) {
  return {list.begin(), list.begin() + std::ptrdiff_t(count)};
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view input(reinterpret_cast<const char*>(data), size);
  const uint8_t limitByte = size ? data[0] : 0;
  const std::vector<std::string> list = Entries(input.substr(size ? 1 : 0));

  FUZZ_CHECK(ParseCommaText(CommaText(list)) == list);

  if (limitByte) {
    const size_t limit = size_t(limitByte - 1);
    const std::string line = CommaText(list, limit);
    FUZZ_CHECK(line.size() <= limit);
    const std::vector<std::string> kept = ParseCommaText(line);
    FUZZ_CHECK(kept.size() <= list.size() && kept == Leading(list, kept.size()));
    // Not one entry more would have fitted.
    if (kept.size() < list.size())
      FUZZ_CHECK(CommaText(Leading(list, kept.size() + 1)).size() > limit);
  }

  const std::vector<std::string> read = ParseCommaText(input);
  for (const std::string& entry : read) FUZZ_CHECK(entry.find('\0') == std::string::npos);
  FUZZ_CHECK(ParseCommaText(CommaText(read)) == read);
  return 0;
}
