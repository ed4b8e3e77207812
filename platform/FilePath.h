#pragma once
// File names: where the program runs from, and names derived from it.
#include <string>
#include <string_view>

namespace platform {

// The full path of the running executable, links resolved; empty when the system cannot
// tell (no /proc).
std::string ExecutablePath();

// path with the extension of its last component replaced by extension (which brings its own
// dot), or extension appended when there is none. Dots in folder names and the leading dot of
// a hidden file's name do not start an extension.
std::string ChangeFileExt(std::string_view path, std::string_view extension);

}  // namespace platform
