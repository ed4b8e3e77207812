#include "platform/CommaText.h"

#include <utility>

namespace platform {

namespace {

// Characters 1 to 32 separate entries when they are not quoted (0 ends the line).
bool IsSeparatingBlank(char c) {
  const auto code = static_cast<unsigned char>(c);
  return code >= 1 && code <= 32;
}

bool NeedsQuotes(std::string_view entry) {
  for (const char c : entry) {
    if (static_cast<unsigned char>(c) <= 32 || c == '"' || c == ',') return true;
  }
  return false;
}

std::string Encoded(std::string_view entry) {
  if (!NeedsQuotes(entry)) return std::string(entry);
  std::string out = "\"";
  for (const char c : entry) {
    if (c == '"') out += '"';
    out += c;
  }
  out += '"';
  return out;
}

}  // namespace

std::string CommaText(const std::vector<std::string>& entries, size_t maxLength) {
  std::string out;
  size_t kept = 0;
  for (; kept < entries.size(); ++kept) {
    const std::string entry = Encoded(entries[kept]);
    const size_t separator = kept == 0 ? 0 : 1;
    if (out.size() + separator + entry.size() > maxLength) break;
    if (separator) out += ',';
    out += entry;
  }
  // Written as nothing, one empty entry would read back as no entry at all.
  if (kept == 1 && entries.front().empty()) return maxLength >= 2 ? "\"\"" : "";
  return out;
}

std::vector<std::string> ParseCommaText(std::string_view text) {
  text = text.substr(0, text.find('\0'));
  std::vector<std::string> entries;
  size_t i = 0;
  const auto skipBlanks = [&] {
    while (i < text.size() && IsSeparatingBlank(text[i])) ++i;
  };
  skipBlanks();
  while (i < text.size()) {
    std::string entry;
    if (text[i] == '"') {
      for (++i; i < text.size(); ++i) {
        if (text[i] == '"') {
          if (i + 1 == text.size() || text[i + 1] != '"') {
            ++i;  // past the closing quote
            break;
          }
          ++i;  // a doubled quote stands for one
        }
        entry += text[i];
      }
    } else {
      const size_t start = i;
      while (i < text.size() && static_cast<unsigned char>(text[i]) > 32 && text[i] != ',') ++i;
      entry = text.substr(start, i - start);
    }
    entries.push_back(std::move(entry));
    skipBlanks();
    if (i < text.size() && text[i] == ',') {
      if (i + 1 == text.size()) entries.emplace_back();
      ++i;
      skipBlanks();
    }
  }
  return entries;
}

}  // namespace platform
