#include "ui/CommandLine.h"

#include <string_view>

const char* const TrellanUsage =
    "usage: Trellan [FILE]\n"
    "       Trellan --help | --version\n"
    "Opens the capture file FILE at start, without the capture filter of the settings.\n"
    "Qt's own options, such as -style NAME, are accepted too.\n";

TCommandLine ParseCommandLine(int argc, const char* const* argv) {
  TCommandLine result;
  bool options = true;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (options && arg == "--help") return {TCommandLine::TAction::Help, {}, {}};
    if (options && arg == "--version") result.Action = TCommandLine::TAction::Version;
    if (options && arg == "--") {
      options = false;
    } else if (options && arg.size() > 1 && arg[0] == '-') {
      if (arg != "--version" && result.Error.empty())
        result.Error = "unknown option " + std::string(arg);
    } else if (result.File.empty()) {
      result.File = arg;
    } else if (result.Error.empty()) {
      result.Error = "more than one file given";
    }
  }
  if (result.Action == TCommandLine::TAction::Run && !result.Error.empty())
    result.Action = TCommandLine::TAction::Error;
  return result;
}
