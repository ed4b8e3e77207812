#pragma once
// The records of a capture file, read in place from a TMappedFile: classic pcap in either
// byte order with microsecond or nanosecond times (and the variants libpcap reads), and
// pcapng. It finds each frame record and gives its capture header exactly as libpcap's
// pcap_next_ex gives it for the same file: times in microseconds, host order, caplen cut to
// the file's snapshot length where libpcap cuts it. The frame's bytes are not copied: the
// record points at them in the mapping.
//
// A frame is found again later by the offset of its record (Offset), which is all a store
// needs to keep of it.
#include <cstdint>
#include <string>
#include <vector>

#include "capture/MappedFile.h"
#include "capture/QuarnFrame.h"

struct TFileRecord {
  PCAP_PKTHDR Header{};
  // Where the record begins in the file: what FrameAt takes.
  uint64_t Offset = 0;
  // Header.caplen bytes of the frame, in the mapping.
  const uint8_t* Data = nullptr;
};

class TFileRecords {
 public:
  // Reads the file header of `file` (which must stay open while this object is used). False
  // with the text libpcap gives for a file it would not open (same wording).
  bool Open(const TMappedFile& file, std::string& error);
  // As pcap_datalink and pcap_snapshot give them for this file.
  int32_t LinkType() const { return LinkType_; }
  int32_t SnapLen() const { return SnapLen_; }
  // The longest span one frame record may take in the file, header included, as far as a
  // record that libpcap accepts can reach: what TMappedFile::SetMaxRecord needs.
  size_t MaxRecord() const;

  // The next frame: 1 with the frame in `record`; 0 at the end of the file; -1 for a record
  // libpcap would refuse, with libpcap's text in `error` (frames before it stay good).
  // Non-frame blocks of a pcapng file are read (interfaces, sections) or skipped as libpcap
  // does. A record that is cut short by the end of the file ends it as libpcap does (same
  // result and text).
  int Next(TFileRecord& record, std::string& error);
  // The file offset reading has reached: for progress.
  uint64_t Position() const { return Position_; }

  // The frame whose record starts at `offset` (one that Next returned). False when its bytes
  // can no longer be read (the file shrank). Safe on any thread once Next has passed
  // `offset`; for pcapng the section table it uses is only appended to by Next, on one thread.
  bool FrameAt(uint64_t offset, TFileRecord& record) const;

 private:
  const TMappedFile* File_ = nullptr;
  int32_t LinkType_ = 0;
  int32_t SnapLen_ = 0;
  uint64_t Position_ = 0;
  // Everything else the formats need (byte order, time scale, record header size, pcapng
  // sections and interfaces) is the implementer's to add here.
};
