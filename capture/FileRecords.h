#pragma once
// The records of a capture file, read in place from a TMappedFile: classic pcap in either
// byte order with microsecond or nanosecond times (and the variants libpcap reads), and
// pcapng. It finds each frame record and gives its capture header exactly as libpcap's
// pcap_next_ex gives it for the same file: times in microseconds, host order, caplen cut to
// the file's snapshot length where libpcap cuts it. The frame's bytes are not copied: the
// record points at them in the mapping.
//
// One difference: libpcap refuses a pcapng file at the first interface whose link type or
// snapshot length differs from the first interface's. Such files are common (a capture on
// "any" beside an Ethernet adapter, loopback beside Wi-Fi), so here every interface keeps its
// own link type and snapshot length, and each frame is read with those of its interface.
//
// A frame is found again later by the offset of its record (Offset), which is all a store
// needs to keep of it.
#include <atomic>
#include <cstdint>
#include <string>
#include <vector>

#include "capture/FileStream.h"
#include "capture/MappedFile.h"
#include "capture/QuarnFrame.h"
#include "platform/ReservedArray.h"

struct TFileRecord {
  PCAP_PKTHDR Header{};
  // Where the record begins in the file: what FrameAt takes.
  uint64_t Offset = 0;
  // Header.caplen bytes of the frame, in the mapping.
  const uint8_t* Data = nullptr;
  // The frame's link type (a DLT, as pcap_datalink gives it): the file's for classic pcap,
  // its interface's for pcapng.
  int32_t LinkType = 1;
};

class TFileRecords {
 public:
  // Reads the file header of `file` (which must stay open while this object is used). False
  // with the text libpcap gives for a file it would not open (same wording).
  bool Open(const TMappedFile& file, std::string& error);
  // As pcap_datalink and pcap_snapshot give them for this file: for pcapng, the first
  // interface's.
  int32_t LinkType() const { return LinkType_; }
  int32_t SnapLen() const { return SnapLen_; }
  // Each link type the file's interfaces have, once, in the order they first appear: for
  // classic pcap the file's alone. A pcapng file may add more as Next reads on; any thread
  // may ask.
  std::vector<int32_t> LinkTypes() const;
  // The longest span one frame record may take in the file, header included, as far as a
  // record that libpcap accepts can reach: what TMappedFile::SetMaxRecord needs.
  size_t MaxRecord() const;

  // The next frame: 1 with the frame in `record`; 0 at the end of the file; -1 for a record
  // libpcap would refuse, with libpcap's text in `error` (frames before it stay good).
  // Non-frame blocks of a pcapng file are read (interfaces, sections) or skipped as libpcap
  // does. A record that is cut short by the end of the file ends it as libpcap does (same
  // result and text).
  int Next(TFileRecord& record, std::string& error);
  // The same, reading through `stream` (started on the file's descriptor) instead of the
  // mapping: for the one pass that files every frame. record.Data is then good until the next
  // call only; record.Offset finds the frame in the mapping as ever.
  int Next(TFileStream& stream, TFileRecord& record, std::string& error);
  // The file offset reading has reached: for progress.
  uint64_t Position() const { return Position_; }

  // The frame whose record starts at `offset` (one that Next returned). False when its bytes
  // can no longer be read (the file shrank). Safe on any thread once Next has passed
  // `offset`; for pcapng the section table it uses is only appended to by Next, on one thread.
  bool FrameAt(uint64_t offset, TFileRecord& record) const;
  // The same through `stream` (started on File()'s descriptor), for a pass over many frames in
  // file order; record.Data is good until the next call only.
  bool FrameAt(TFileStream& stream, uint64_t offset, TFileRecord& record) const;
  const TMappedFile* File() const { return File_; }
  // Asks for the lines of the record at `offset` ahead of a FrameAt soon to come: rows are read
  // one after the other, and a record's first read would otherwise wait on memory.
  void Prefetch(uint64_t offset) const {
    if (!File_ || offset >= File_->Size()) return;
    if (const uint8_t* p = File_->Bytes(offset, 1)) {
      __builtin_prefetch(p);
      __builtin_prefetch(p + 64);
    }
  }

 private:
  const TMappedFile* File_ = nullptr;
  int32_t LinkType_ = 0;
  int32_t SnapLen_ = 0;
  uint64_t Position_ = 0;
  // A pcapng interface: its link type (a DLT) and adjusted snapshot length, and how its time
  // stamps become seconds and microseconds.
  struct TInterface {
    int32_t LinkType = 1;
    uint32_t SnapLen = 0;
    uint64_t Resolution = 1000000;  // units per second
    uint64_t Offset = 0;            // seconds added
    uint64_t Factor = 1;            // for decimal resolutions: the power of ten between
    enum { Same, Up, Down, Binary } Scale = Same;
  };
  // A pcapng section: from the offset of its header block, the interfaces from index First.
  struct TSection {
    uint64_t Start = 0;
    uint32_t First = 0;
  };
  // A pcapng block checked whole, as libpcap reads it before looking inside.
  struct TBlock {
    uint32_t Type = 0;
    uint32_t Length = 0;
  };

  // The parser reads the file through a Source: TMappedBytes (the mapping, any thread) or a
  // TFileStream (the filing pass). Each has Size(), Bytes(offset, length) and Failure().
  struct TMappedBytes;
  template <class Source>
  bool FrameIn(Source& bytes, uint64_t offset, TFileRecord& record) const;
  bool OpenPcap(const uint8_t* magic, std::string& error);
  bool OpenPcapng(std::string& error);
  template <class Source>
  int NextPcap(Source& bytes, TFileRecord& record, std::string& error);
  template <class Source>
  int NextPcapng(Source& bytes, TFileRecord& record, std::string& error);
  // The frame of the pcap record at `offset` with its header as libpcap gives it: 1, or -1
  // with libpcap's text; `span` is what the record takes in the file.
  template <class Source>
  int PcapFrame(Source& bytes, uint64_t offset, TFileRecord& record, uint64_t& span,
                std::string* error) const;
  // The frame of a pcapng packet block (1), 0 for another block type, -1 with libpcap's text.
  template <class Source>
  int PcapngFrame(Source& bytes, uint64_t offset, const TBlock& block, const TSection& section,
                  uint32_t interfaces, TFileRecord& record, std::string* error) const;
  template <class Source>
  int ReadBlock(Source& bytes, uint64_t offset, TBlock& block, std::string& error) const;
  // Reads the interface block at `offset` and publishes its interface: false with libpcap's
  // text for one it would refuse.
  template <class Source>
  bool AddInterface(Source& bytes, uint64_t offset, const TBlock& block, std::string& error);
  void PrefetchFrom(const uint8_t* next);
  template <class Source>
  std::string Unreadable(const Source& bytes) const;
  uint32_t Get32(const uint8_t* p) const;
  uint16_t Get16(const uint8_t* p) const;

  // How far the lines ahead of the reading have been asked for.
  uint64_t PrefetchedTo_ = 0;
  bool Pcapng_ = false;
  // A classic pcap file in native order with microsecond times and the usual record header:
  // FrameAt reads its headers as they lie.
  bool Plain_ = false;
  bool Swapped_ = false;
  // pcap: the record header's size (the modified header is longer), caplen and len stored
  // the other way round (1) or perhaps so (2), nanosecond times.
  uint32_t HeaderSize_ = 16;
  int LengthsSwapped_ = 0;
  bool Nanoseconds_ = false;
  uint32_t MaxCaplen_ = 262144;
  // pcapng: the longest block libpcap reads; interfaces and sections as met so far.
  uint32_t MaxBlock_ = 16 << 20;
  platform::TReservedArray<TInterface> Interfaces_{size_t(1) << 22, 1024};
  platform::TReservedArray<TSection> Sections_{size_t(1) << 22, 1024};
  std::atomic<uint32_t> InterfaceCount_{0};
  std::atomic<uint32_t> SectionCount_{0};
};
