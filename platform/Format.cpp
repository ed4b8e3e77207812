#include "platform/Format.h"

namespace platform {

namespace {
[[noreturn]] void Invalid(std::string_view fmt) {
  throw EFormatError("Format '" + std::string(fmt) + "' invalid or incompatible with argument");
}
}  // namespace

std::string Format(std::string_view fmt, std::initializer_list<FormatArg> args) {
  std::string out;
  out.reserve(fmt.size() + 32);
  auto arg = args.begin();
  for (size_t i = 0; i < fmt.size(); ++i) {
    const char c = fmt[i];
    if (c != '%') {
      out += c;
      continue;
    }
    if (++i == fmt.size()) Invalid(fmt);
    const char kind = fmt[i];
    if (kind == '%') {
      out += '%';
      continue;
    }
    if (arg == args.end()) Invalid(fmt);
    if (kind == 's') {
      const auto* s = arg->Text();
      if (!s) Invalid(fmt);
      out += *s;
    } else if (kind == 'd') {
      const auto* v = arg->Integer();
      if (!v) Invalid(fmt);
      out += std::to_string(*v);
    } else {
      Invalid(fmt);
    }
    ++arg;
  }
  if (arg != args.end()) Invalid(fmt);
  return out;
}

}  // namespace platform
