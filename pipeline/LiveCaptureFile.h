#pragma once
// The file a live or remote capture is written to as its frames arrive, so that a crash, a
// kill or the OOM killer loses at most the frames of the last moments. It is a classic pcap
// file, byte for byte what libpcap's pcap_dump writes for the same source: native byte order,
// microsecond times, the source's link type and snap length.
//
// Records are gathered in memory and written with one write() when enough are pending or when
// the owner flushes (every few hundred milliseconds, and at stop). The file therefore always ends
// with a whole record: the kernel holds what was written even if this process dies the next
// instant, and a failed write is cut back to the last whole record.
#include <array>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/QuarnFrame.h"

class TLiveCaptureFile {
 public:
  static constexpr size_t FileHeaderSize = 24;
  static constexpr size_t RecordHeaderSize = sizeof(PCAP_PKTHDR);

  // The file header pcap_dump writes for that link type and snapshot length.
  static std::array<uint8_t, FileHeaderSize> FileHeader(int32_t linkType, int32_t snapLen);

  TLiveCaptureFile() = default;
  ~TLiveCaptureFile();
  TLiveCaptureFile(const TLiveCaptureFile&) = delete;
  TLiveCaptureFile& operator=(const TLiveCaptureFile&) = delete;

  // Creates `path` as a new file, its owner's alone, and writes the file header. Six X's in
  // the name become random characters (platform::CreateNewFile), and Path() tells the name
  // made. False, with "cannot create PATH: reason" in `error`, when that fails; nothing is left
  // behind.
  bool Create(const std::string& path, int32_t linkType, int32_t snapLen, std::string& error);
  int Descriptor() const { return Fd_; }
  const std::string& Path() const { return Path_; }
  // The file was moved; the descriptor still writes to it.
  void Renamed(const std::string& path) { Path_ = path; }

  // Adds a record to the pending bytes and returns the file offset it will have.
  uint64_t Append(const PCAP_PKTHDR& header, const uint8_t* data);
  size_t PendingBytes() const { return Pending_.size(); }
  // Writes the pending bytes. On failure the file is cut back to the last whole record that
  // reached it, `error` says "cannot write to PATH: reason", and the pending bytes are
  // dropped; WrittenSize() tells which records made it.
  bool Flush(std::string& error);
  // Bytes of the file that hold whole records: the header and every record written so far.
  uint64_t WrittenSize() const { return Written_; }
  // Starts the file afresh: it keeps its header and nothing else.
  bool Restart(std::string& error);
  void Close();

 private:
  std::string Failure(const char* what, int code) const;

  int Fd_ = -1;
  std::string Path_;
  uint64_t Written_ = 0;
  std::vector<uint8_t> Pending_;
};
