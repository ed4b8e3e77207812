#include "capture/MappedFile.h"

#include <fcntl.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>

namespace {
// Enough windows for a file of 64 TiB; only address space is taken for the table.
constexpr size_t MaxWindows = size_t(1) << 20;
constexpr size_t GuardSlots = 64;
constexpr size_t Page = 4096;

int64_t ModifiedNs(const struct stat& st) {
  return int64_t(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
}
}  // namespace

// The SIGBUS handler's view of the open files. The handler may run on any thread at any
// moment, so it reads only atomics: each slot names a file whose windows it may repair.
struct TMappedFileGuard {
  static inline std::atomic<const TMappedFile*> Files[GuardSlots];
  static inline struct sigaction Previous {};
  static inline std::once_flag Installed;

  static void Install() {
    std::call_once(Installed, [] {
      struct sigaction action {};
      action.sa_sigaction = &Handle;
      action.sa_flags = SA_SIGINFO;
      sigemptyset(&action.sa_mask);
      sigaction(SIGBUS, &action, &Previous);
    });
  }

  static int Register(const TMappedFile* file) {
    Install();
    for (size_t i = 0; i < GuardSlots; ++i) {
      const TMappedFile* expected = nullptr;
      if (Files[i].compare_exchange_strong(expected, file)) return int(i);
    }
    // More files open than slots: this one reads unguarded, as a plain mapping would.
    return -1;
  }

  static void Release(int slot) {
    if (slot >= 0) Files[slot].store(nullptr, std::memory_order_release);
  }

  // The file whose window holds `address`, or nullptr.
  static const TMappedFile* Owner(const uint8_t* address) {
    for (auto& slot : Files) {
      const TMappedFile* file = slot.load(std::memory_order_acquire);
      if (!file) continue;
      const size_t span = TMappedFile::WindowSize + file->Overlap_;
      const size_t count = file->WindowCount_.load(std::memory_order_acquire);
      for (size_t k = 0; k < count; ++k) {
        const uint8_t* window = file->Windows_[k].load(std::memory_order_acquire);
        if (window && address >= window && address < window + span) return file;
      }
    }
    return nullptr;
  }

  static void Handle(int signal, siginfo_t* info, void* context) {
    const auto* address = static_cast<const uint8_t*>(info->si_addr);
    if (const TMappedFile* file = Owner(address)) {
      // The page went with the end of the file: zeros stand in for it so that the read in
      // progress finishes, and the owner learns from Changed_ not to trust what it read.
      void* page = reinterpret_cast<void*>(reinterpret_cast<uintptr_t>(address) & ~(Page - 1));
      if (mmap(page, Page, PROT_READ, MAP_FIXED | MAP_PRIVATE | MAP_ANONYMOUS, -1, 0) !=
          MAP_FAILED) {
        const_cast<TMappedFile*>(file)->Changed_.store(true, std::memory_order_release);
        return;
      }
    }
    if ((Previous.sa_flags & SA_SIGINFO) && Previous.sa_sigaction) {
      Previous.sa_sigaction(signal, info, context);
    } else if (Previous.sa_handler != SIG_DFL && Previous.sa_handler != SIG_IGN &&
               Previous.sa_handler) {
      Previous.sa_handler(signal);
    } else {
      // Back to the default action: the faulting access runs again and the process dies of
      // SIGBUS, as it would have without this handler.
      struct sigaction fallback {};
      fallback.sa_handler = SIG_DFL;
      sigemptyset(&fallback.sa_mask);
      sigaction(SIGBUS, &fallback, nullptr);
    }
  }
};

TMappedFile::TMappedFile() : Windows_(MaxWindows, 64) {}

TMappedFile::~TMappedFile() { Close(); }

bool TMappedFile::Open(const std::string& path, std::string& error) {
  Close();
  // Only a regular file can be mapped. Anything else is refused before it is opened: opening
  // a pipe would wait for a writer, or take the data its writer meant for another reader.
  struct stat named {};
  if (stat(path.c_str(), &named) == 0 && !S_ISREG(named.st_mode)) {
    error = path + ": " + (S_ISDIR(named.st_mode) ? std::strerror(EISDIR) : "not a regular file");
    return false;
  }
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  if (fd < 0) {
    error = path + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || !S_ISREG(st.st_mode)) {
    const int reason = errno;
    error = path + ": " +
            (S_ISDIR(st.st_mode) ? std::strerror(EISDIR)
             : st.st_mode        ? "not a regular file"
                                 : std::strerror(reason));
    close(fd);
    return false;
  }
  Fd_ = fd;
  OwnsFd_ = true;
  Path_ = path;
  ModifiedAt_ = ModifiedNs(st);
  Device_ = st.st_dev;
  Inode_ = st.st_ino;
  Size_.store(uint64_t(st.st_size), std::memory_order_release);
  Changed_.store(false, std::memory_order_release);
  GuardSlot_ = TMappedFileGuard::Register(this);
  return true;
}

bool TMappedFile::Adopt(int fd, uint64_t size, std::string& error) {
  Close();
  struct stat st {};
  if (fstat(fd, &st) != 0) {
    error = std::string("descriptor ") + std::to_string(fd) + ": " + std::strerror(errno);
    return false;
  }
  Fd_ = fd;
  OwnsFd_ = false;
  Path_.clear();
  ModifiedAt_ = ModifiedNs(st);
  Device_ = st.st_dev;
  Inode_ = st.st_ino;
  Size_.store(size, std::memory_order_release);
  Changed_.store(false, std::memory_order_release);
  GuardSlot_ = TMappedFileGuard::Register(this);
  return true;
}

void TMappedFile::Close() {
  TMappedFileGuard::Release(GuardSlot_);
  GuardSlot_ = -1;
  Unmap();
  if (Fd_ >= 0 && OwnsFd_) close(Fd_);
  Fd_ = -1;
  OwnsFd_ = false;
  Path_.clear();
  Size_.store(0, std::memory_order_release);
  MapErrno_.store(0, std::memory_order_relaxed);
}

void TMappedFile::Unmap() {
  const size_t count = WindowCount_.load(std::memory_order_acquire);
  for (size_t k = 0; k < count; ++k) {
    if (uint8_t* window = Windows_[k].exchange(nullptr)) munmap(window, WindowSize + Overlap_);
  }
  WindowCount_.store(0, std::memory_order_release);
}

void TMappedFile::SetMaxRecord(size_t bytes) {
  const size_t overlap = (bytes + Page - 1) & ~(Page - 1);
  if (overlap == Overlap_) return;
  // Windows mapped so far (the file header read with the default) are one overlap long; the
  // new length holds for all, so they are mapped again when next needed.
  Unmap();
  Overlap_ = overlap;
}

void TMappedFile::Grow(uint64_t size) {
  if (size > Size()) Size_.store(size, std::memory_order_release);
}

void TMappedFile::Shrink(uint64_t size) {
  if (size < Size()) Size_.store(size, std::memory_order_release);
}

uint8_t* TMappedFile::MapWindow(size_t k) const {
  if (k >= Windows_.Capacity()) {
    MapErrno_.store(EFBIG, std::memory_order_relaxed);
    return nullptr;
  }
  if (uint8_t* window = Windows_[k].load(std::memory_order_acquire)) return window;
  void* mapped =
      mmap(nullptr, WindowSize + Overlap_, PROT_READ, MAP_SHARED, Fd_, off_t(k * WindowSize));
  if (mapped == MAP_FAILED) {
    MapErrno_.store(errno, std::memory_order_relaxed);
    return nullptr;
  }
  auto* window = static_cast<uint8_t*>(mapped);
  uint8_t* expected = nullptr;
  if (!Windows_[k].compare_exchange_strong(expected, window, std::memory_order_acq_rel)) {
    munmap(window, WindowSize + Overlap_);
    return expected;
  }
  // The guard scans windows below this count; it only rises while the file is open.
  size_t count = WindowCount_.load(std::memory_order_acquire);
  while (count <= k &&
         !WindowCount_.compare_exchange_weak(count, k + 1, std::memory_order_acq_rel)) {
  }
  return window;
}


std::string TMappedFile::MapError() const {
  const int reason = MapErrno_.load(std::memory_order_relaxed);
  return reason ? std::strerror(reason) : std::string();
}

bool TMappedFile::Recheck() {
  if (Fd_ < 0) return Changed();
  struct stat st {};
  if (fstat(Fd_, &st) == 0) {
    if (uint64_t(st.st_size) < Size()) {
      Size_.store(uint64_t(st.st_size), std::memory_order_release);
      Changed_.store(true, std::memory_order_release);
    } else if (ModifiedNs(st) != ModifiedAt_) {
      Changed_.store(true, std::memory_order_release);
    }
  }
  // Replaced under its name (a new file saved over it): what is mapped is the old file.
  struct stat named {};
  if (!Path_.empty() &&
      (stat(Path_.c_str(), &named) != 0 || named.st_ino != Inode_ || named.st_dev != Device_))
    Changed_.store(true, std::memory_order_release);
  return Changed();
}
