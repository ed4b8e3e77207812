#include "capture/FileStream.h"

#include <sys/mman.h>

#include <fcntl.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/HugePages.h"

namespace {
// Reads up to `length` bytes at `offset`, again after a signal or a short read: the bytes
// read, or -1 with errno. Fewer than asked for means the file ends there.
int64_t ReadFully(int fd, uint8_t* to, size_t length, uint64_t offset) {
  size_t got = 0;
  while (got < length) {
    const ssize_t n = pread(fd, to + got, length - got, off_t(offset + got));
    if (n < 0 && errno == EINTR) continue;
    if (n < 0) return -1;
    if (n == 0) break;
    got += size_t(n);
  }
  return int64_t(got);
}
}  // namespace

TFileStream::TFileStream(size_t chunkBytes)
    : Chunk_(chunkBytes ? chunkBytes : DefaultChunk), Filled_(RingChunks, 0) {}

TFileStream::~TFileStream() {
  {
    std::lock_guard lock(Lock_);
    Stop_ = true;
  }
  Advanced_.notify_all();
  if (Reader_.joinable()) Reader_.join();
  if (Ring_ && !SmallRing_) munmap(Ring_, RingBytes_);
}

void TFileStream::Start(int fd, uint64_t size) {
  Fd_ = fd;
  Size_ = size;
  RingBytes_ = (Chunk_ * RingChunks + platform::HugePage - 1) & ~(platform::HugePage - 1);
  Ring_ = static_cast<uint8_t*>(platform::MapHugeAligned(RingBytes_));
  if (Ring_) {
    madvise(Ring_, RingBytes_, MADV_HUGEPAGE);
  } else {
    SmallRing_ = std::make_unique<uint8_t[]>(Chunk_ * RingChunks);
    Ring_ = SmallRing_.get();
  }
  // The kernel reads a file from disk further ahead when told it is read in order.
  posix_fadvise(fd, 0, 0, POSIX_FADV_SEQUENTIAL);
  Reader_ = std::thread([this] { ReadAhead(); });
}

void TFileStream::ReadAhead() {
  const uint64_t chunks = (Size_ + Chunk_ - 1) / Chunk_;
  std::unique_lock lock(Lock_);
  for (uint64_t k = 0; k < chunks;) {
    Advanced_.wait(lock, [&] { return Stop_ || k < Released_ + RingChunks; });
    if (Stop_) break;
    // Chunks the reader has already gone past are not read at all.
    if (k < Released_) k = Released_;
    if (k >= chunks) break;
    lock.unlock();
    const uint64_t at = k * Chunk_;
    const size_t want = size_t(std::min<uint64_t>(Chunk_, Size_ - at));
    const int64_t got = ReadFully(Fd_, Ring_ + (k % RingChunks) * Chunk_, want, at);
    const int reason = got < 0 ? errno : 0;
    lock.lock();
    Filled_[k % RingChunks] = got;
    ReadTo_ = ++k;
    if (got < 0) Errno_ = reason;
    if (got >= 0 && size_t(got) < want) CutAt_ = at + uint64_t(got);
    Read_.notify_all();
    if (got < 0 || size_t(got) < want) break;
  }
  Ended_ = true;
  Read_.notify_all();
}

int64_t TFileStream::AwaitChunk(uint64_t k) {
  std::unique_lock lock(Lock_);
  if (k > Released_) {
    Released_ = k;
    Advanced_.notify_all();
  }
  Read_.wait(lock, [&] { return ReadTo_ > k || Ended_; });
  return ReadTo_ > k ? Filled_[k % RingChunks] : -1;
}

const uint8_t* TFileStream::BytesElsewhere(uint64_t offset, size_t length) {
  if (offset > Size_ || length > Size_ - offset) return nullptr;
  if (length == 0) {
    Apart_.resize(std::max<size_t>(Apart_.size(), 1));
    return Apart_.data();
  }
  const uint64_t first = offset / Chunk_;
  const uint64_t last = (offset + length - 1) / Chunk_;
  if (first == last && (!HaveCurrent_ || first > Current_)) {
    // Every chunk before this one is given back to the reader.
    const int64_t filled = AwaitChunk(first);
    HaveCurrent_ = filled >= 0;
    Current_ = first;
    InChunkFrom_ = InChunkTo_ = 0;
    if (!HaveCurrent_) return nullptr;
    InChunk_ = Ring_ + (first % RingChunks) * Chunk_;
    InChunkFrom_ = first * Chunk_;
    InChunkTo_ = InChunkFrom_ + uint64_t(filled);
    if (offset + length <= InChunkTo_) return InChunk_ + (offset - InChunkFrom_);
    return nullptr;  // past where the file turned out to end
  }
  if (first == last && first == Current_ && HaveCurrent_) return nullptr;  // past a short chunk
  return ReadApart(offset, length);
}

const uint8_t* TFileStream::ReadApart(uint64_t offset, size_t length) {
  if (Apart_.size() < length) Apart_.resize(length);
  const int64_t got = ReadFully(Fd_, Apart_.data(), length, offset);
  if (got == int64_t(length)) return Apart_.data();
  std::lock_guard lock(Lock_);
  if (got < 0) Errno_ = errno;
  else CutAt_ = std::min(CutAt_, offset + uint64_t(got));
  return nullptr;
}

std::string TFileStream::Failure() const {
  std::lock_guard lock(Lock_);
  if (Errno_) return std::string("cannot read the file: ") + std::strerror(Errno_);
  if (CutAt_ != UINT64_MAX)
    return "the file became shorter while it was read (" + std::to_string(CutAt_) + " of " +
           std::to_string(Size_) + " bytes)";
  return {};
}
