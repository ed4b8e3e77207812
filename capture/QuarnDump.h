#pragma once
// Writes frames to a capture file through libpcap's savefile writer. The file's header
// (link type, snap length) comes from an open capture handle, so a dump can only be opened
// while a source is open; the file stays valid after that source closes.
#include <string>

#include "capture/QuarnFrame.h"

struct pcap;
struct pcap_dumper;

class TQuarnDump {
 public:
  TQuarnDump() = default;
  ~TQuarnDump();
  TQuarnDump(const TQuarnDump&) = delete;
  TQuarnDump& operator=(const TQuarnDump&) = delete;

  bool Active() const { return Active_; }
  const std::string& LastError() const { return LastError_; }

  bool Open(pcap* Handle, const std::string& FileName);
  // Appends one record; nothing when closed. The savefile writer keeps no error state per
  // record, so a failed write is not reported here.
  void Write(const PCAP_PKTHDR* header, const void* frame);
  bool Close();

 private:
  bool Active_ = false;
  std::string LastError_;
  pcap_dumper* Dumper_ = nullptr;
};
