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

// Copies `from` into a new file beside `to` and renames it over `to`.
bool CopyThroughTemporary(const std::string& from, const std::string& to) {
  const int in = ::open(from.c_str(), O_RDONLY | O_CLOEXEC);
  if (in < 0) return false;
  struct stat st {};
  if (fstat(in, &st) != 0) {
    SavedErrno keep;
    ::close(in);
    return false;
  }
  std::string temporary = to + ".XXXXXX";
  const int out = mkostemp(temporary.data(), O_CLOEXEC);
  if (out < 0) {
    SavedErrno keep;
    ::close(in);
    return false;
  }
  bool ok = true;
  static constexpr size_t Chunk = 1 << 20;
  char* buffer = static_cast<char*>(std::malloc(Chunk));
  if (!buffer) {
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
    ok = WriteAll(out, buffer, n);
  }
  std::free(buffer);
  ok = ok && fchmod(out, st.st_mode & 07777) == 0 && fsync(out) == 0;
  {
    SavedErrno keep;
    ::close(in);
    if (::close(out) != 0 && ok) {
      keep.value = errno;
      ok = false;
    }
  }
  if (ok && ::rename(temporary.c_str(), to.c_str()) != 0) ok = false;
  if (!ok) {
    SavedErrno keep;
    ::unlink(temporary.c_str());
  }
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

bool MoveFile(const std::string& from, const std::string& to) {
  if (::rename(from.c_str(), to.c_str()) == 0) return true;
  if (errno != EXDEV) return false;
  if (!CopyThroughTemporary(from, to)) return false;
  ::unlink(from.c_str());
  return true;
}

bool CopyFile(const std::string& from, const std::string& to) {
  struct stat a {}, b {};
  if (::stat(from.c_str(), &a) != 0) return false;
  if (::stat(to.c_str(), &b) == 0 && a.st_dev == b.st_dev && a.st_ino == b.st_ino) return true;
  return CopyThroughTemporary(from, to);
}

TFileBeside::~TFileBeside() {
  if (Fd_ < 0 && Temporary_.empty()) return;
  SavedErrno keep;
  if (Fd_ >= 0) ::close(Fd_);
  ::unlink(Temporary_.c_str());
}

bool TFileBeside::Create(const std::string& target) {
  Target_ = target;
  Temporary_ = target + ".XXXXXX";
  Fd_ = mkostemp(Temporary_.data(), O_CLOEXEC);
  if (Fd_ < 0) {
    Temporary_.clear();
    return false;
  }
  const mode_t mask = ::umask(0);
  ::umask(mask);
  return fchmod(Fd_, 0666 & ~mask) == 0;
}

bool TFileBeside::Write(std::string_view text) {
  return WriteAll(Fd_, text.data(), ssize_t(text.size()));
}

bool TFileBeside::Commit() {
  if (fsync(Fd_) != 0) return false;
  const int fd = Fd_;
  Fd_ = -1;
  if (::close(fd) != 0 || ::rename(Temporary_.c_str(), Target_.c_str()) != 0) return false;
  Temporary_.clear();
  return true;
}

}  // namespace platform
