// A capture file read in place (TMappedFile, TFileRecords) and through libpcap (fmemopen and
// pcap_fopen_offline) must give the same: the same refusal text at open, the same frames with
// the same headers and bytes, the same end (or error text at the same record), and each frame
// found again by its offset. Where libpcap refuses a pcapng interface whose link type or
// snapshot length differs from the first one's, the reader here goes on: the frames up to
// there must agree.
//
// Input: the file's bytes.
#include <pcap/pcap.h>
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <string>

#include "capture/FileRecords.h"
#include "fuzz/FuzzSupport.h"

namespace {
// Link types whose frames libpcap rewrites after reading them (pseudo-headers of a file of
// the other byte order, USB lengths): the bytes in the file are not what it hands over.
bool Rewritten(int32_t linkType) {
  switch (linkType) {
    case DLT_PFLOG:
    case DLT_LINUX_SLL:
    case DLT_LINUX_SLL2:
    case DLT_USB_LINUX:
    case DLT_USB_LINUX_MMAPPED:
    case DLT_NFLOG: return true;
    default: return false;
  }
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const int fd = memfd_create("records", MFD_CLOEXEC);
  FUZZ_CHECK(fd >= 0);
  for (size_t done = 0; done < size;) {
    const ssize_t n = pwrite(fd, data + done, size - done, off_t(done));
    FUZZ_CHECK(n > 0);
    done += size_t(n);
  }
  TMappedFile file;
  TFileRecords records;
  std::string error;
  FUZZ_CHECK(file.Adopt(fd, size, error));
  const bool opened = records.Open(file, error);

  // fmemopen refuses an empty buffer; libpcap's answer to an empty file is known.
  char errbuf[PCAP_ERRBUF_SIZE] =
      "truncated dump file; tried to read 4 file header bytes, only got 0";
  std::FILE* stream = size ? fmemopen(const_cast<uint8_t*>(data), size, "rb") : nullptr;
  FUZZ_CHECK(stream || !size);
  pcap_t* pcap = stream ? pcap_fopen_offline(stream, errbuf) : nullptr;
  if (!pcap && stream) std::fclose(stream);
  FUZZ_CHECK(opened == (pcap != nullptr));
  if (!opened) {
    FUZZ_CHECK(error == errbuf);
    close(fd);
    return 0;
  }
  FUZZ_CHECK(records.LinkType() == pcap_datalink(pcap));
  FUZZ_CHECK(records.SnapLen() == pcap_snapshot(pcap));
  file.SetMaxRecord(records.MaxRecord());

  TFileRecord ours;
  pcap_pkthdr* header;
  const u_char* bytes;
  for (;;) {
    const int status = records.Next(ours, error);
    int theirs = pcap_next_ex(pcap, &header, &bytes);
    if (theirs == -2) theirs = 0;
    const std::string refusal = theirs == -1 ? pcap_geterr(pcap) : "";
    if (refusal.starts_with("an interface has a ")) break;
    FUZZ_CHECK(status == theirs);
    if (status == -1) FUZZ_CHECK(error == pcap_geterr(pcap));
    if (status != 1) break;
    if (Rewritten(ours.LinkType)) continue;
    FUZZ_CHECK(ours.Header.ts.tv_sec == int32_t(header->ts.tv_sec));
    FUZZ_CHECK(ours.Header.ts.tv_usec == int32_t(header->ts.tv_usec));
    FUZZ_CHECK(ours.Header.caplen == header->caplen);
    FUZZ_CHECK(ours.Header.len == header->len);
    FUZZ_CHECK(std::memcmp(ours.Data, bytes, header->caplen) == 0);
    TFileRecord again;
    FUZZ_CHECK(records.FrameAt(ours.Offset, again));
    FUZZ_CHECK(std::memcmp(&again.Header, &ours.Header, sizeof(PCAP_PKTHDR)) == 0);
    FUZZ_CHECK(again.Data == ours.Data);
  }
  pcap_close(pcap);
  file.Close();
  close(fd);
  return 0;
}
