#pragma once
// The one reading of an integer written as text, shared by the settings file and by every edit
// that takes a number: an optional "+" or "-", then either decimal digits within the signed
// 32-bit range or at most eight hexadecimal digits after "$", "x", "X", "0x" or "0X" (a 32-bit
// pattern, so $FFFFFFFF is -1). Spaces may lead; nothing may follow the digits.
#include <cstdint>
#include <stdexcept>
#include <string_view>

namespace platform {

// The value of a hexadecimal digit (either letter case), or -1 for any other character.
int HexDigitValue(char c);

class EConvertError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

// The value of text, or def when text is not an integer.
int32_t StrToIntDef(std::string_view text, int32_t def);

// The value of text; raises EConvertError "'<text>' is not a valid integer value" otherwise.
int32_t StrToInt(std::string_view text);

}  // namespace platform
