#include "platform/IntegerText.h"

#include <algorithm>
#include <optional>

#include "platform/Format.h"

namespace platform {

int HexDigitValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

namespace {

// The digits after a hexadecimal prefix, or nothing when text has no such prefix.
std::optional<std::string_view> HexDigits(std::string_view text) {
  if (text.starts_with("0x") || text.starts_with("0X")) return text.substr(2);
  if (text.starts_with('$') || text.starts_with('x') || text.starts_with('X'))
    return text.substr(1);
  return std::nullopt;
}

std::optional<int32_t> ParseHex(std::string_view digits, bool negative) {
  // Eight digits fill the 32 bits; a ninth would drop the leading ones silently.
  if (digits.empty() || digits.size() > 8) return std::nullopt;
  uint32_t pattern = 0;
  for (const char c : digits) {
    const int d = HexDigitValue(c);
    if (d < 0) return std::nullopt;
    pattern = pattern << 4 | uint32_t(d);
  }
  return static_cast<int32_t>(negative ? 0u - pattern : pattern);
}

std::optional<int32_t> ParseDecimal(std::string_view digits, bool negative) {
  constexpr int64_t kLimit = int64_t(INT32_MAX) + 1;  // the magnitude of INT32_MIN
  if (digits.empty()) return std::nullopt;
  int64_t magnitude = 0;
  for (const char c : digits) {
    if (c < '0' || c > '9') return std::nullopt;
    magnitude = magnitude * 10 + (c - '0');
    if (magnitude > kLimit) return std::nullopt;  // stop before the accumulator could overflow
  }
  if (negative) return static_cast<int32_t>(-magnitude);
  if (magnitude > INT32_MAX) return std::nullopt;
  return static_cast<int32_t>(magnitude);
}

std::optional<int32_t> ParseInteger(std::string_view text) {
  text.remove_prefix(std::min(text.find_first_not_of(' '), text.size()));
  bool negative = false;
  if (text.starts_with('+') || text.starts_with('-')) {
    negative = text.front() == '-';
    text.remove_prefix(1);
  }
  if (const auto hex = HexDigits(text)) return ParseHex(*hex, negative);
  return ParseDecimal(text, negative);
}

}  // namespace

int32_t StrToIntDef(std::string_view text, int32_t def) { return ParseInteger(text).value_or(def); }

int32_t StrToInt(std::string_view text) {
  if (const auto value = ParseInteger(text)) return *value;
  throw EConvertError(Format("'%s' is not a valid integer value", {text}));
}

}  // namespace platform
