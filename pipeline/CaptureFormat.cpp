#include "pipeline/CaptureFormat.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <strings.h>
#include <unistd.h>

#include "capture/FileRecords.h"
#include "pipeline/LiveCaptureFile.h"

namespace {
// What is written is gathered and handed to the file a megabyte at a time.
constexpr size_t WriteSize = size_t(1) << 20;

// The block types this writer needs, and the first block's number, which reads the same in
// either byte order.
constexpr uint32_t SectionHeaderBlock = 0x0A0D0D0A;
constexpr uint32_t InterfaceBlock = 1;
constexpr uint32_t EnhancedPacketBlock = 6;
// The option of an interface that gives its time resolution, as a power of ten.
constexpr uint16_t TimeResolutionOption = 9;

// Classic pcap's magic number with nanosecond times.
constexpr uint32_t NanosecondMagic = 0xa1b23c4d;

template <typename T>
void Put(std::string& out, T value) {
  out.append(reinterpret_cast<const char*>(&value), sizeof value);
}

// A pcapng block in this host's byte order, which the section's byte-order magic tells
// readers: type, length, the body padded to 32 bits, the length again.
void PutBlock(std::string& out, uint32_t type, const std::string& body) {
  const size_t padding = (4 - body.size() % 4) % 4;
  const auto length = uint32_t(12 + body.size() + padding);
  Put(out, type);
  Put(out, length);
  out += body;
  out.append(padding, '\0');
  Put(out, length);
}

bool Write(platform::TFileBeside& out, std::string& pending) {
  const bool written = out.Write(pending);
  pending.clear();
  return written;
}
}  // namespace

TCaptureFormat FormatOfName(const std::string& path) {
  constexpr std::string_view extension = ".pcapng";
  const bool pcapng = path.size() >= extension.size() &&
                      strcasecmp(path.c_str() + path.size() - extension.size(), extension.data()) == 0;
  return pcapng ? TCaptureFormat::Pcapng : TCaptureFormat::Pcap;
}

TCaptureFormat FormatOf(const TMappedFile& file) {
  uint32_t magic = 0;
  if (const uint8_t* first = file.Bytes(0, sizeof magic)) std::memcpy(&magic, first, sizeof magic);
  return magic == SectionHeaderBlock ? TCaptureFormat::Pcapng : TCaptureFormat::Pcap;
}

bool WriteCaptureAs(const TMappedFile& file, TCaptureFormat format, platform::TFileBeside& out) {
  TFileRecords records;
  std::string error;
  if (!records.Open(file, error)) {
    errno = EINVAL;
    return false;
  }
  const bool pcapng = format == TCaptureFormat::Pcapng;
  // The records give microseconds; a classic pcap file with nanosecond times keeps them in
  // pcapng, read from its record headers in the file's byte order.
  uint32_t magic = 0;
  std::memcpy(&magic, file.Bytes(0, sizeof magic), sizeof magic);  // there: the records opened
  const bool swapped = magic == __builtin_bswap32(NanosecondMagic);
  const bool nanoseconds = magic == NanosecondMagic || swapped;
  std::string pending, body;
  if (pcapng) {
    Put(body, uint32_t(0x1A2B3C4D));  // byte-order magic
    Put(body, uint16_t(1));           // version 1.0
    Put(body, uint16_t(0));
    Put(body, int64_t(-1));  // section length not given
    PutBlock(pending, SectionHeaderBlock, body);
    body.clear();
    Put(body, uint16_t(records.LinkType()));
    Put(body, uint16_t(0));
    Put(body, uint32_t(records.SnapLen()));
    if (nanoseconds) {  // microseconds are pcapng's own unit
      Put(body, TimeResolutionOption);
      Put(body, uint16_t(1));
      body += char(9);
      body.append(3, '\0');
      Put(body, uint32_t(0));  // end of options
    }
    PutBlock(pending, InterfaceBlock, body);
  } else {
    // The file header comes last, when the longest frame is known.
    pending.append(TLiveCaptureFile::FileHeaderSize, '\0');
  }
  uint32_t snapLen = uint32_t(records.SnapLen());
  TFileRecord record;
  int next = 0;
  while ((next = records.Next(record, error)) > 0) {
    const PCAP_PKTHDR& header = record.Header;
    const auto* data = reinterpret_cast<const char*>(record.Data);
    if (pcapng) {
      uint64_t fraction = uint32_t(header.ts.tv_usec);
      if (nanoseconds) {
        uint32_t raw = 0;
        if (const uint8_t* at = file.Bytes(record.Offset + 4, sizeof raw))
          std::memcpy(&raw, at, sizeof raw);
        fraction = swapped ? __builtin_bswap32(raw) : raw;
      }
      const uint64_t time =
          uint64_t(uint32_t(header.ts.tv_sec)) * (nanoseconds ? 1000000000 : 1000000) + fraction;
      body.clear();
      Put(body, uint32_t(0));  // the one interface
      Put(body, uint32_t(time >> 32));
      Put(body, uint32_t(time));
      Put(body, header.caplen);
      Put(body, header.len);
      body.append(data, header.caplen);
      PutBlock(pending, EnhancedPacketBlock, body);
    } else {
      if (record.LinkType != records.LinkType()) {
        errno = EINVAL;
        return false;
      }
      snapLen = std::max(snapLen, header.caplen);
      Put(pending, header);
      pending.append(data, header.caplen);
    }
    if (pending.size() >= WriteSize && !Write(out, pending)) return false;
  }
  // A record that cannot be read ends the file early: the save fails rather than pass a
  // part of the capture for all of it.
  if (next < 0) {
    errno = EIO;
    return false;
  }
  if (!Write(out, pending)) return false;
  if (pcapng) return true;
  const auto fileHeader = TLiveCaptureFile::FileHeader(records.LinkType(), int32_t(snapLen));
  const ssize_t n = ::pwrite(out.Descriptor(), fileHeader.data(), fileHeader.size(), 0);
  if (n >= 0 && size_t(n) < fileHeader.size()) errno = ENOSPC;
  return n == ssize_t(fileHeader.size());
}
