#include "presentation/TerminalText.h"

#include <cctype>
#include <cstdint>

namespace {
void AppendEscaped(uint8_t byte, std::string& out) {
  static constexpr char Digits[] = "0123456789abcdef";
  const char escape[4] = {'\\', 'x', Digits[byte >> 4], Digits[byte & 15]};
  out.append(escape, 4);
}

bool Continuation(uint8_t byte) { return (byte & 0xC0) == 0x80; }

// The length of the valid UTF-8 sequence at the front of `s` and its code point; 0 when the
// first byte does not begin one (RFC 3629: no overlong forms, no surrogates, at most 10FFFF).
size_t Utf8Sequence(std::string_view s, uint32_t& codePoint) {
  const auto at = [&](size_t i) { return uint8_t(s[i]); };
  const uint8_t lead = at(0);
  size_t length;
  uint8_t low = 0x80, high = 0xBF;  // the range of the second byte
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
    codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
    codePoint = lead & 0x0F;
    if (lead == 0xE0) low = 0xA0;   // overlong below
    if (lead == 0xED) high = 0x9F;  // surrogates above
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
    codePoint = lead & 0x07;
    if (lead == 0xF0) low = 0x90;   // overlong below
    if (lead == 0xF4) high = 0x8F;  // beyond 10FFFF above
  } else {
    return 0;
  }
  if (s.size() < length || at(1) < low || at(1) > high) return 0;
  for (size_t i = 1; i < length; ++i) {
    if (!Continuation(at(i))) return 0;
    codePoint = codePoint << 6 | (at(i) & 0x3F);
  }
  return length;
}

// Code points a terminal obeys rather than shows: the C1 controls, and the controls of the
// direction of bidirectional text.
bool Obeyed(uint32_t c) {
  return (c >= 0x80 && c <= 0x9F) || c == 0x061C || c == 0x200E || c == 0x200F ||
         (c >= 0x202A && c <= 0x202E) || (c >= 0x2066 && c <= 0x2069);
}
}  // namespace

void AppendTerminalText(std::string_view text, const TTerminalEscapes& escapes, std::string& out) {
  out.reserve(out.size() + text.size());
  for (size_t i = 0; i < text.size();) {
    const uint8_t byte = uint8_t(text[i]);
    if (byte < 0x80) {
      if (byte == '\\' && escapes.Backslash)
        out += "\\\\";
      else if ((byte < 0x20 && escapes.Separators.find(char(byte)) == std::string_view::npos) ||
               byte == 0x7F)
        AppendEscaped(byte, out);
      else
        out += char(byte);
      ++i;
      continue;
    }
    uint32_t codePoint = 0;
    const size_t length =
        escapes.Charset == TTerminalCharset::UTF8 ? Utf8Sequence(text.substr(i), codePoint) : 0;
    if (length == 0) {
      AppendEscaped(byte, out);
      ++i;
    } else if (Obeyed(codePoint)) {
      for (size_t k = 0; k < length; ++k) AppendEscaped(uint8_t(text[i + k]), out);
      i += length;
    } else {
      out.append(text.substr(i, length));
      i += length;
    }
  }
}

std::string TerminalText(std::string_view text, const TTerminalEscapes& escapes) {
  std::string out;
  AppendTerminalText(text, escapes, out);
  return out;
}

TTerminalCharset TerminalCharsetOf(std::string_view codeset) {
  std::string folded;
  for (char c : codeset)
    if (c != '-' && c != '_') folded += char(std::tolower(static_cast<unsigned char>(c)));
  return folded == "utf8" ? TTerminalCharset::UTF8 : TTerminalCharset::ASCII;
}
