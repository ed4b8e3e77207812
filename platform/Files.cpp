#include "platform/Files.h"

#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace platform {

namespace {
// Keeps errno of the failure that counts across the clean-up calls after it.
struct SavedErrno {
  int value = errno;
  ~SavedErrno() { errno = value; }
};

bool WriteAll(int fd, const char* data, ssize_t size) {
  while (size > 0) {
    const ssize_t n = ::write(fd, data, size_t(size));
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    data += n;
    size -= n;
  }
  return true;
}

// Copies `from` into a new file beside `to` and renames it over `to`, with `mode`, or the
// mode of `from` without one.
bool CopyThroughTemporary(const std::string& from, const std::string& to,
                          std::optional<mode_t> mode) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  TFileBeside out;
  bool ok = fstat(in, &st) == 0 && out.Create(to);
  static constexpr size_t Chunk = 1 << 20;
  char* buffer = ok ? static_cast<char*>(std::malloc(Chunk)) : nullptr;
  if (ok && !buffer) {
    errno = ENOMEM;
    ok = false;
  }
  while (ok) {
    const ssize_t n = ::read(in, buffer, Chunk);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) {
      ok = n == 0;
      break;
    }
    ok = out.Write(std::string_view(buffer, size_t(n)));
  }
  std::free(buffer);
  ok = ok && out.Commit(mode.value_or(st.st_mode & 07777));
  SavedErrno keep;
  ::close(in);
  return ok;
}
}  // namespace

std::string TempDirectory() {
  const char* dir = std::getenv("TMPDIR");
  std::string path = dir && *dir ? dir : "/tmp";
  if (path.back() != '/') path += '/';
  return path;
}

bool FileExists(const std::string& path) {
  struct stat st {};
  return !path.empty() && ::stat(path.c_str(), &st) == 0;
}

bool DeleteFile(const std::string& path) { return ::unlink(path.c_str()) == 0; }

bool SameFile(const std::string& a, const std::string& b) {
  struct stat sa {}, sb {};
  return ::stat(a.c_str(), &sa) == 0 && ::stat(b.c_str(), &sb) == 0 && sa.st_dev == sb.st_dev &&
         sa.st_ino == sb.st_ino;
}

int CreateNewFile(std::string& path) {
  const size_t name = path.rfind('/') + 1;  // 0 without a folder
  const size_t random = path.rfind("XXXXXX");
  if (random != std::string::npos && random >= name)
    return ::mkostemps(path.data(), int(path.size() - random - 6), O_CLOEXEC);
  // O_EXCL refuses whatever is there already, a symbolic link too.
  return ::open(path.c_str(), O_RDWR | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
}

mode_t NewFileMode() {
  // The kernel tells the mask without changing it; setting it to learn it would, for that
  // moment, give a file another thread creates the wrong mode.
  if (FILE* status = std::fopen("/proc/self/status", "re")) {
    char line[256];
    unsigned mask = 0;
    bool found = false;
    while (!found && std::fgets(line, sizeof line, status))
      found = std::sscanf(line, "Umask: %o", &mask) == 1;
    std::fclose(status);
    if (found) return 0666 & ~mode_t(mask);
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return 0666 & ~mask;
}

bool MoveFile(const std::string& from, const std::string& to, std::optional<mode_t> mode) {
  if (::rename(from.c_str(), to.c_str()) == 0) {
    // A file system without modes refuses; the move itself is done.
    if (mode) ::chmod(to.c_str(), *mode);
    return true;
  }
  if (errno != EXDEV) return false;
  if (!CopyThroughTemporary(from, to, mode)) return false;
  ::unlink(from.c_str());
  return true;
}

bool CopyFile(const std::string& from, const std::string& to) {
  if (SameFile(from, to)) return true;
  return CopyThroughTemporary(from, to, std::nullopt);
}

TFileBeside::~TFileBeside() {
  if (Fd_ < 0 && Temporary_.empty()) return;
  SavedErrno keep;
  if (Fd_ >= 0) ::close(Fd_);
  if (!Temporary_.empty()) ::unlink(Temporary_.c_str());
}

bool TFileBeside::Create(const std::string& target) {
  Target_ = target;
  // A device or a pipe is written into: a file renamed over it would take its place. A pipe
  // that nobody reads is refused at once (ENXIO) instead of waited on; once open, writes
  // block as they would on any file.
  struct stat st {};
  if (::stat(target.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISDIR(st.st_mode)) {
    Fd_ = ::open(target.c_str(), O_WRONLY | O_CLOEXEC | O_NONBLOCK);
    if (Fd_ >= 0) ::fcntl(Fd_, F_SETFL, ::fcntl(Fd_, F_GETFL) & ~O_NONBLOCK);
    return Fd_ >= 0;
  }
  Temporary_ = target + ".XXXXXX";
  Fd_ = CreateNewFile(Temporary_);
  if (Fd_ < 0) Temporary_.clear();
  return Fd_ >= 0;
}

bool TFileBeside::Write(std::string_view text) {
  return WriteAll(Fd_, text.data(), ssize_t(text.size()));
}

bool TFileBeside::Commit(mode_t mode) {
  const int fd = Fd_;
  if (Temporary_.empty()) {
    Fd_ = -1;
    return ::close(fd) == 0;
  }
  // Only now, complete and about to take the target's name, may others read it.
  if (fchmod(fd, mode) != 0 || fsync(fd) != 0) return false;
  Fd_ = -1;
  if (::close(fd) != 0 || ::rename(Temporary_.c_str(), Target_.c_str()) != 0) return false;
  Temporary_.clear();
  return true;
}

}  // namespace platform
