#pragma once
// A type-checked formatter for the two placeholders the program's messages use: "%s" takes a
// text and "%d" an integer. "%%" writes one percent sign. A placeholder without a matching
// argument, an argument of the other kind, an unknown placeholder or an argument left over
// raises EFormatError, so a wrong message text is found by the first test that reaches it.
#include <cstdint>
#include <initializer_list>
#include <stdexcept>
#include <string>
#include <string_view>
#include <variant>

namespace platform {

class EFormatError : public std::runtime_error {
 public:
  using std::runtime_error::runtime_error;
};

class FormatArg {
 public:
  FormatArg(std::string_view s) : value_(s) {}
  FormatArg(const std::string& s) : value_(std::string_view(s)) {}
  FormatArg(const char* s) : value_(std::string_view(s ? s : "")) {}
  FormatArg(int v) : value_(int64_t(v)) {}
  FormatArg(long v) : value_(int64_t(v)) {}
  FormatArg(long long v) : value_(int64_t(v)) {}
  FormatArg(unsigned v) : value_(int64_t(v)) {}
  FormatArg(unsigned long v) : value_(int64_t(v)) {}
  FormatArg(unsigned long long v) : value_(int64_t(v)) {}

  const std::string_view* Text() const { return std::get_if<std::string_view>(&value_); }
  const int64_t* Integer() const { return std::get_if<int64_t>(&value_); }

 private:
  std::variant<std::string_view, int64_t> value_;
};

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args);

}  // namespace platform
