#pragma once
// The program's command line: Trellan [FILE], Trellan --help, Trellan --version.
#include <string>

struct TCommandLine {
  enum class TAction { Run, Help, Version, Error };
  TAction Action = TAction::Run;
  std::string File;   // the capture file to open at start; empty for none
  std::string Error;  // what was wrong, for TAction::Error
};

// Reads the arguments after argv[0]. --help or --version anywhere wins over anything else, so
// that they answer even beside options the application object has not taken out yet; "--"
// ends the options, so that a file whose name starts with a dash can be given.
TCommandLine ParseCommandLine(int argc, const char* const* argv);

// What --help prints.
extern const char* const TrellanUsage;
