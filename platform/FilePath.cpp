#include "platform/FilePath.h"

#include <unistd.h>

namespace platform {

std::string ExecutablePath() {
  std::string path(256, '\0');
  for (;;) {
    const ssize_t n = readlink("/proc/self/exe", path.data(), path.size());
    if (n < 0) return {};
    // readlink does not say whether it cut the name: a full buffer may be a cut one.
    if (size_t(n) < path.size()) {
      path.resize(size_t(n));
      return path;
    }
    path.resize(path.size() * 2);
  }
}

std::string ChangeFileExt(std::string_view path, std::string_view extension) {
  const size_t slash = path.rfind('/');
  const size_t nameStart = slash == std::string_view::npos ? 0 : slash + 1;
  const size_t dot = path.rfind('.');
  const bool hasExtension = dot != std::string_view::npos && dot > nameStart;
  std::string out(path.substr(0, hasExtension ? dot : path.size()));
  out += extension;
  return out;
}

}  // namespace platform
