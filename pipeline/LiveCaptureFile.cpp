#include "pipeline/LiveCaptureFile.h"

#include <cerrno>
#include <cstring>
#include <unistd.h>

#include "platform/Files.h"

namespace {
// What pcap_dump_open writes: the file header in native byte order, version 2.4.
struct TPcapFileHeader {
  uint32_t Magic = 0xa1b2c3d4;
  uint16_t VersionMajor = 2;
  uint16_t VersionMinor = 4;
  int32_t ThisZone = 0;
  uint32_t SigFigs = 0;
  uint32_t SnapLen = 0;
  uint32_t LinkType = 0;
};
static_assert(sizeof(TPcapFileHeader) == TLiveCaptureFile::FileHeaderSize);

// Writes all of [data, data + size) at the descriptor's position; the bytes written are in
// `done` whatever the outcome.
bool WriteAll(int fd, const uint8_t* data, size_t size, size_t& done) {
  done = 0;
  while (done < size) {
    const ssize_t n = ::write(fd, data + done, size - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    if (n == 0) {
      errno = ENOSPC;
      return false;
    }
    done += size_t(n);
  }
  return true;
}
}  // namespace

std::array<uint8_t, TLiveCaptureFile::FileHeaderSize> TLiveCaptureFile::FileHeader(
    int32_t linkType, int32_t snapLen) {
  TPcapFileHeader header;
  header.SnapLen = uint32_t(snapLen);
  header.LinkType = uint32_t(linkType);
  std::array<uint8_t, FileHeaderSize> bytes;
  std::memcpy(bytes.data(), &header, sizeof header);
  return bytes;
}

TLiveCaptureFile::~TLiveCaptureFile() { Close(); }

std::string TLiveCaptureFile::Failure(const char* what, int code) const {
  return std::string(what) + " " + Path_ + ": " + std::strerror(code);
}

bool TLiveCaptureFile::Create(const std::string& path, int32_t linkType, int32_t snapLen,
                              std::string& error) {
  Close();
  Path_ = path;
  Fd_ = platform::CreateNewFile(Path_);
  if (Fd_ < 0) {
    const int code = errno;
    Path_ = path;  // the name as asked for, whatever the failed call left of it
    error = Failure("cannot create", code);
    return false;
  }
  const auto header = FileHeader(linkType, snapLen);
  size_t done = 0;
  if (!WriteAll(Fd_, header.data(), header.size(), done)) {
    error = Failure("cannot write to", errno);
    ::close(Fd_);
    Fd_ = -1;
    ::unlink(Path_.c_str());
    return false;
  }
  Written_ = header.size();
  Pending_.reserve(size_t(1) << 20);
  return true;
}

uint64_t TLiveCaptureFile::Append(const PCAP_PKTHDR& header, const uint8_t* data) {
  const uint64_t offset = Written_ + Pending_.size();
  const auto* h = reinterpret_cast<const uint8_t*>(&header);
  Pending_.insert(Pending_.end(), h, h + RecordHeaderSize);
  Pending_.insert(Pending_.end(), data, data + header.caplen);
  return offset;
}

bool TLiveCaptureFile::Flush(std::string& error) {
  if (Pending_.empty() || Fd_ < 0) return Fd_ >= 0;
  size_t done = 0;
  const bool written = WriteAll(Fd_, Pending_.data(), Pending_.size(), done);
  if (written) {
    Written_ += Pending_.size();
    Pending_.clear();
    return true;
  }
  const int code = errno;
  // Whole records only: a record cut short would end the file for every reader.
  size_t whole = 0;
  while (whole + RecordHeaderSize <= done) {
    PCAP_PKTHDR header;
    std::memcpy(&header, Pending_.data() + whole, RecordHeaderSize);
    if (whole + RecordHeaderSize + header.caplen > done) break;
    whole += RecordHeaderSize + header.caplen;
  }
  Written_ += whole;
  if (::ftruncate(Fd_, off_t(Written_)) != 0 || ::lseek(Fd_, off_t(Written_), SEEK_SET) < 0) {
    // Nothing more can be done for the tail; the records before it are what they were.
  }
  Pending_.clear();
  error = Failure("cannot write to", code);
  return false;
}

bool TLiveCaptureFile::Restart(std::string& error) {
  Pending_.clear();
  if (Fd_ < 0) return true;
  if (::ftruncate(Fd_, off_t(FileHeaderSize)) != 0 ||
      ::lseek(Fd_, off_t(FileHeaderSize), SEEK_SET) < 0) {
    error = Failure("cannot write to", errno);
    return false;
  }
  Written_ = FileHeaderSize;
  return true;
}

void TLiveCaptureFile::Close() {
  if (Fd_ >= 0) ::close(Fd_);
  Fd_ = -1;
  Pending_.clear();
  Pending_.shrink_to_fit();
}
