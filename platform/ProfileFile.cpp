#include "platform/ProfileFile.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <optional>
#include <utility>

#include "platform/IntegerText.h"

namespace platform {

namespace {

constexpr size_t kNone = std::string_view::npos;

std::string_view Trimmed(std::string_view s) {
  constexpr std::string_view kBlanks = " \t\r";
  const size_t first = s.find_first_not_of(kBlanks);
  if (first == kNone) return {};
  return s.substr(first, s.find_last_not_of(kBlanks) - first + 1);
}

char LowerAscii(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

bool SameName(std::string_view a, std::string_view b) {
  if (a.size() != b.size()) return false;
  for (size_t i = 0; i < a.size(); ++i) {
    if (LowerAscii(a[i]) != LowerAscii(b[i])) return false;
  }
  return true;
}

bool IsComment(std::string_view line) {
  const std::string_view t = Trimmed(line);
  return t.starts_with(';') || t.starts_with('#');
}

// The section name of a header line; nothing for any other line.
std::optional<std::string_view> SectionName(std::string_view line) {
  const std::string_view t = Trimmed(line);
  const size_t close = t.find(']');
  if (!t.starts_with('[') || close == kNone) return std::nullopt;
  return Trimmed(t.substr(1, close - 1));
}

struct EntryText {
  std::string_view Key;
  std::string_view Value;
};

// The key and value of an entry line; nothing for any other line.
std::optional<EntryText> Entry(std::string_view line) {
  const size_t equals = line.find('=');
  if (equals == kNone || IsComment(line)) return std::nullopt;
  const EntryText entry{Trimmed(line.substr(0, equals)), Trimmed(line.substr(equals + 1))};
  if (entry.Key.empty()) return std::nullopt;
  return entry;
}

bool FitsOnLine(std::string_view s) {
  return s.find_first_of(std::string_view("\r\n\0", 3)) == kNone;
}

bool ReadWholeFile(const std::string& path, std::string& text, int& error) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = errno;
    return false;
  }
  char buffer[8192];
  for (;;) {
    const ssize_t n = ::read(fd, buffer, sizeof buffer);
    if (n == 0) break;
    if (n < 0) {
      if (errno == EINTR) continue;
      error = errno;
      ::close(fd);
      return false;
    }
    text.append(buffer, size_t(n));
  }
  ::close(fd);
  return true;
}

bool WriteAll(int fd, std::string_view text) {
  while (!text.empty()) {
    const ssize_t n = ::write(fd, text.data(), text.size());
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    text.remove_prefix(size_t(n));
  }
  return true;
}

// Cleans up after a failed commit, keeping the errno of the step that failed.
bool Abandon(int fd, const std::string& tempPath) {
  const int error = errno;
  if (fd >= 0) ::close(fd);
  ::unlink(tempPath.c_str());
  errno = error;
  return false;
}

}  // namespace

ProfileFile::ProfileFile(std::string path) : Path_(std::move(path)) {
  std::string text;
  int error = 0;
  if (!ReadWholeFile(Path_, text, error)) {
    // Not there (or its folder is not): an empty file, created by the first commit.
    if (error != ENOENT && error != ENOTDIR) ReadError_ = error;
    return;
  }
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == kNone) end = text.size();
    Lines_.emplace_back(text, start, end - start);
    start = end + 1;
  }
}

size_t ProfileFile::FindSection(std::string_view section) const {
  for (size_t i = 0; i < Lines_.size(); ++i) {
    const auto name = SectionName(Lines_[i]);
    if (name && SameName(*name, section)) return i;
  }
  return kNone;
}

size_t ProfileFile::SectionEnd(size_t header) const {
  size_t i = header + 1;
  while (i < Lines_.size() && !SectionName(Lines_[i])) ++i;
  return i;
}

size_t ProfileFile::FindKey(size_t header, std::string_view key) const {
  const size_t end = SectionEnd(header);
  for (size_t i = header + 1; i < end; ++i) {
    const auto entry = Entry(Lines_[i]);
    if (entry && SameName(entry->Key, key)) return i;
  }
  return kNone;
}

std::string ProfileFile::ReadString(std::string_view section, std::string_view key,
                                    std::string_view def) const {
  const size_t header = FindSection(section);
  const size_t line = header == kNone ? kNone : FindKey(header, key);
  std::string_view value = line == kNone ? def : Entry(Lines_[line])->Value;
  value = value.substr(0, value.find_first_of(std::string_view("\r\0", 2)));
  return std::string(Trimmed(value.substr(0, MaxValueLength)));
}

int32_t ProfileFile::ReadInteger(std::string_view section, std::string_view key,
                                 int32_t def) const {
  return StrToIntDef(ReadString(section, key, ""), def);
}

bool ProfileFile::ReadBool(std::string_view section, std::string_view key, bool def) const {
  return ReadInteger(section, key, def ? 1 : 0) != 0;
}

bool ProfileFile::WriteString(std::string_view section, std::string_view key,
                              std::string_view value) {
  if (section.empty() || key.empty() || !FitsOnLine(section) || !FitsOnLine(key) ||
      !FitsOnLine(value) || section.find(']') != kNone || key.find('=') != kNone) {
    return false;
  }
  std::string line = std::string(key) + '=' + std::string(value);
  const size_t header = FindSection(section);
  if (header == kNone) {
    // A blank line sets a new section apart from the one before, as people write them.
    if (!Lines_.empty() && !Trimmed(Lines_.back()).empty()) Lines_.emplace_back();
    Lines_.push_back('[' + std::string(section) + ']');
    Lines_.push_back(std::move(line));
    return true;
  }
  if (const size_t existing = FindKey(header, key); existing != kNone) {
    Lines_[existing] = std::move(line);
    return true;
  }
  // After the section's last line that is not blank, so the blank line before the next
  // section stays where it is.
  size_t at = SectionEnd(header);
  while (at > header + 1 && Trimmed(Lines_[at - 1]).empty()) --at;
  Lines_.insert(Lines_.begin() + std::ptrdiff_t(at), std::move(line));
  return true;
}

bool ProfileFile::WriteInteger(std::string_view section, std::string_view key, int32_t value) {
  return WriteString(section, key, std::to_string(value));
}

bool ProfileFile::WriteBool(std::string_view section, std::string_view key, bool value) {
  return WriteString(section, key, value ? "1" : "0");
}

bool ProfileFile::Commit() {
  if (ReadError_ != 0) {
    errno = ReadError_;
    return false;
  }
  std::string target = Path_;
  if (char* resolved = ::realpath(Path_.c_str(), nullptr)) {
    target = resolved;
    std::free(resolved);
  }
  struct stat old {};
  const bool exists = ::stat(target.c_str(), &old) == 0;

  std::string tempPath = target + ".XXXXXX";
  const int fd = ::mkostemp(tempPath.data(), O_CLOEXEC);
  if (fd < 0) return false;
  std::string text;
  for (const std::string& line : Lines_) {
    text += line;
    text += '\n';
  }
  if (!WriteAll(fd, text)) return Abandon(fd, tempPath);
  // The temporary file is its owner's alone while it is written (it holds the remote
  // password); complete, it takes the mode and owner the file had.
  if (::fchmod(fd, exists ? old.st_mode & 07777 : 0600) != 0) return Abandon(fd, tempPath);
  if (exists && ::geteuid() == 0 && ::fchown(fd, old.st_uid, old.st_gid) != 0) {
    // A file system without owners refuses; the file is then root's like any new one.
  }
  if (::fsync(fd) != 0) return Abandon(fd, tempPath);
  if (::close(fd) != 0) return Abandon(-1, tempPath);
  if (::rename(tempPath.c_str(), target.c_str()) != 0) return Abandon(-1, tempPath);

  // The rename itself reaches the disk with the folder. The new file is in place already, so a
  // failure here changes nothing the caller could act on.
  const size_t slash = target.rfind('/');
  const std::string folder = slash == kNone ? "." : slash == 0 ? "/" : target.substr(0, slash);
  if (const int dir = ::open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC); dir >= 0) {
    ::fsync(dir);
    ::close(dir);
  }
  return true;
}

}  // namespace platform
