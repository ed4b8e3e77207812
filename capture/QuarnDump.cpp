#include "capture/QuarnDump.h"

#include <cstring>
#include <pcap/pcap.h>

#include "support/ZebTrace.h"

TQuarnDump::~TQuarnDump() { Close(); }

bool TQuarnDump::Open(pcap* Handle, const std::string& FileName) {
  if (Active_) return false;
  if (FileName.empty()) {
    LastError_ = "Quarn Error: Invalid file name";
    TraceFmt("[Quarn] TQuarnDump.Open (%s)", LastError_);
    return false;
  }
  Dumper_ = pcap_dump_open(Handle, FileName.c_str());
  if (!Dumper_) {
    const char* text = pcap_geterr(Handle);
    LastError_ = text ? std::string(text, strnlen(text, PCAP_ERRBUF_SIZE)) : std::string();
    TraceFmt("[Quarn] TQuarnDump.Open (%s)", LastError_);
    return false;
  }
  Active_ = true;
  return true;
}

void TQuarnDump::Write(const PCAP_PKTHDR* header, const void* frame) {
  if (!Active_) return;
  pcap_pkthdr h{};
  h.ts.tv_sec = header->ts.tv_sec;
  h.ts.tv_usec = header->ts.tv_usec;
  h.caplen = header->caplen;
  h.len = header->len;
  pcap_dump(reinterpret_cast<u_char*>(Dumper_), &h, static_cast<const u_char*>(frame));
}

bool TQuarnDump::Close() {
  if (!Active_) return false;
  pcap_dump_close(Dumper_);
  Dumper_ = nullptr;
  Active_ = false;
  return true;
}
