#pragma once
// What the capture targets (capture_file, capture_pipeline) share: the layout of their input,
// the file it brings, kept in memory and opened by its path as any other file is, and what
// libpcap's own reader delivers from it.
//
// Input: the TCP data offset (4 bytes, little-endian), the UDP data offset (4 bytes; its bit
// 30 chooses decoding with IPv6 and VLAN, and is then cleared), then the file's bytes. Both
// targets take the same inputs, so that a seed or a finding of one is an input of the other.
#include <sys/mman.h>
#include <unistd.h>

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include <pcap/pcap.h>

#include "capture/Quarn.h"
#include "fuzz/FuzzSupport.h"
#include "support/ZebTrace.h"

struct CaptureInput {
  int32_t TCPOffset = 0;
  int32_t UDPOffset = 0;
  bool Deep = false;  // decoding with IPv6 and VLAN
  std::basic_string_view<uint8_t> File;

  CaptureInput(const uint8_t* data, size_t size) {
    FuzzInput in(data, size);
    TCPOffset = in.Int32();
    UDPOffset = in.Int32();
    Deep = UDPOffset & (1 << 30);
    UDPOffset &= ~(1 << 30);
    File = in.Rest();
  }
};

// The file lives in memory and is opened by its /proc path, as any other file would be.
class MemoryFile {
 public:
  MemoryFile() : Fd_(memfd_create("capture", MFD_CLOEXEC)) {
    FUZZ_CHECK(Fd_ >= 0);
    Path_ = "/proc/self/fd/" + std::to_string(Fd_);
  }
  const std::string& Write(std::basic_string_view<uint8_t> bytes) {
    FUZZ_CHECK(ftruncate(Fd_, 0) == 0);
    size_t done = 0;
    while (done < bytes.size()) {
      const ssize_t n = pwrite(Fd_, bytes.data() + done, bytes.size() - done, off_t(done));
      FUZZ_CHECK(n > 0);
      done += size_t(n);
    }
    return Path_;
  }

 private:
  int Fd_;
  std::string Path_;
};

// What a target keeps from one input to the next, as the window keeps its own: the file, and
// one component that opens every input (its constructor enumerates the adapters, which would
// otherwise dominate each run).
struct CaptureReader {
  MemoryFile File;
  TQuarn Quarn;
  // What libpcap itself delivers for the input: the capture must hold exactly these frames.
  std::vector<PCAP_PKTHDR> Headers;
  std::vector<std::basic_string<uint8_t>> Frames;

  CaptureReader() {
    // Nearly every input is a damaged file, and each would send a trace datagram to whoever
    // listens on the trace port of this machine (a viewer, or tests running beside the
    // fuzzer): the fuzzer runs without the trace.
    delete TraceLog;
    TraceLog = nullptr;
  }

  // Reads the file with libpcap alone: false when the component could not open it; `whole`
  // is false when a record stopped the reading before the end.
  bool ReadWithLibpcap(const std::string& path, bool& whole) {
    Headers.clear();
    Frames.clear();
    char errbuf[PCAP_ERRBUF_SIZE];
    pcap_t* p = pcap_open_offline(path.c_str(), errbuf);
    if (!p) return false;
    // The component refuses a file whose link type no filter can be compiled for, even the
    // empty one (an unknown link type).
    bpf_program program{};
    if (pcap_compile(p, &program, "", 1, PCAP_NETMASK_UNKNOWN) < 0) {
      pcap_close(p);
      return false;
    }
    pcap_freecode(&program);
    pcap_pkthdr* h;
    const u_char* d;
    int result;
    while ((result = pcap_next_ex(p, &h, &d)) == 1) {
      // As the capture component converts it for this program's 32-bit header.
      Headers.push_back({{int32_t(h->ts.tv_sec), int32_t(h->ts.tv_usec)}, h->caplen, h->len});
      Frames.emplace_back(d, h->caplen);
    }
    whole = result == -2;
    pcap_close(p);
    return true;
  }
};
