// What decoding IPv6 and VLAN costs, with its references in the same run:
//   open          TCapturePipeline::ReadFile decoding by type codes and decoding with IPv6 and
//                 VLAN, against the bare pcap_next_ex loop (libpcap's own buffer, and a 64 KiB
//                 stream buffer); a
//                 fresh pipeline for every run, RUNS runs interleaved, the best counts,
//   re-file       TCapturePipeline::Refile turning the decoding on and off again over the
//                 whole file, as View > Decode IPv6 and VLAN does,
//   IPv6 rows     the TCP view's row text of every IPv4 TCP frame of the file, against the
//                 same segments carried by IPv6 (each frame rebuilt in memory with a 40-byte
//                 IPv6 header and addresses of full length), both from memory.
//
//   trellan-decodebench FILE [RUNS]
#include <algorithm>
#include <cstdio>
#include <cstring>
#include <pcap/pcap.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "pipeline/CapturePipeline.h"
#include "presentation/CellText.h"

namespace {
using bench::Clock;

// The loop through libpcap that only touches each record, with libpcap's own stream buffer
// (`buffer` 0) or one of `buffer` bytes.
double BareLoop(const std::string& path, size_t buffer) {
  char error[PCAP_ERRBUF_SIZE];
  const auto start = Clock::now();
  pcap_t* pcap = nullptr;
  std::vector<char> space(buffer);
  if (!buffer) {
    pcap = pcap_open_offline(path.c_str(), error);
  } else if (FILE* file = std::fopen(path.c_str(), "rb")) {
    // glibc takes the size only with a buffer given.
    std::setvbuf(file, space.data(), _IOFBF, buffer);
    pcap = pcap_fopen_offline(file, error);
  }
  if (!pcap) return -1;
  pcap_pkthdr* header;
  const u_char* data;
  uint64_t sum = 0;
  while (pcap_next_ex(pcap, &header, &data) == 1) sum += data[0];
  pcap_close(pcap);
  const double seconds = bench::Seconds(start, Clock::now());
  if (sum == 1) std::puts("");  // keeps the loop's reads
  return seconds;
}

double Open(const std::string& path, bool deep, int64_t& frames) {
  const auto start = Clock::now();
  TCapturePipeline capture;
  capture.SetDecodeIPv6AndVLAN(deep);
  std::string error;
  if (capture.ReadFile(path, {}, error) != TCapturePipeline::TReadResult::Complete) return -1;
  frames = capture.Count();
  return bench::Seconds(start, Clock::now());
}

// The frame's TCP segment behind an Ethernet and an IPv6 header instead of its IPv4 header.
std::vector<uint8_t> AsIPv6(const TFrame& frame, const TPacketLayers& layers) {
  const uint8_t* ip = layers.NetworkHeader;
  const uint8_t* tcp = layers.Transport;
  std::vector<uint8_t> bytes(frame.Data(), ip);
  bytes[12] = 0x86;
  bytes[13] = 0xDD;
  const size_t segment = size_t(frame.DataEnd() - tcp);
  const uint16_t payload = uint16_t(std::max(layers.TransportLength, 0));
  const uint8_t fixed[8] = {0x60, 0x01, 0x23, 0x45, uint8_t(payload >> 8), uint8_t(payload), 6, 64};
  bytes.insert(bytes.end(), fixed, fixed + 8);
  const uint8_t source[16] = {0x20, 0x01, 0x0d, 0xb8, 0x85, 0xa3, 0, 0, 0, 0, 0x8a, 0x2e, 0x03, 0x70, ip[14], ip[15]};
  const uint8_t target[16] = {0x2a, 0x00, 0x14, 0x50, 0x40, 0x01, 0x08, 0x2b, 0, 0, 0, 0, 0, 0, ip[18], ip[19]};
  bytes.insert(bytes.end(), source, source + 16);
  bytes.insert(bytes.end(), target, target + 16);
  bytes.insert(bytes.end(), tcp, tcp + segment);
  return bytes;
}

double RowsOf(const std::vector<TFrame>& frames, int runs, size_t& bytes) {
  TRowText row;
  double best = 1e9;
  for (int run = 0; run < runs; ++run) {
    bytes = 0;
    const auto start = Clock::now();
    for (const TFrame& frame : frames) {
      FrameRowText(viTCP, frame, 0, 0, row);
      for (const std::string& cell : row) bytes += cell.size();
    }
    best = std::min(best, bench::Seconds(start, Clock::now()));
  }
  return best;
}
}  // namespace

int main(int argc, char** argv) {
  const auto arguments = bench::FileAndRuns(argc, argv);
  if (!arguments) return 2;
  const std::string& path = arguments->File;
  const int runs = arguments->Runs;

  double plain = 1e9, bare = 1e9, off = 1e9, on = 1e9;
  int64_t frames = 0;
  for (int run = 0; run < runs; ++run) {
    plain = std::min(plain, BareLoop(path, 0));
    bare = std::min(bare, BareLoop(path, 64 << 10));
    off = std::min(off, Open(path, false, frames));
    on = std::min(on, Open(path, true, frames));
  }
  std::printf("frames %lld\n", static_cast<long long>(frames));
  std::printf("open: bare %.3f s, bare 64K %.3f s; by type codes %.3f s (%.3f x bare, %.3f x "
              "bare 64K); with IPv6 and VLAN %.3f s (%.3f x bare, %.3f x bare 64K, %.3f x by "
              "type codes)\n",
              plain, bare, off, off / plain, off / bare, on, on / plain, on / bare, on / off);

  TCapturePipeline capture;
  std::string error;
  if (capture.ReadFile(path, {}, error) != TCapturePipeline::TReadResult::Complete) return 1;
  double refileOn = 1e9, refileOff = 1e9;
  for (int run = 0; run < runs; ++run) {
    auto start = Clock::now();
    capture.Refile(true);
    refileOn = std::min(refileOn, bench::Seconds(start, Clock::now()));
    start = Clock::now();
    capture.Refile(false);
    refileOff = std::min(refileOff, bench::Seconds(start, Clock::now()));
  }
  std::printf("re-file %lld frames: on %.3f s, off %.3f s\n", static_cast<long long>(frames),
              refileOn, refileOff);

  // At most a million TCP rows of each kind, from memory.
  std::vector<TFrame> v4;
  std::vector<std::vector<uint8_t>> v6Bytes;
  const TPacketList tcp = capture.Items(viTCP);
  for (size_t i = 0; i < tcp.size() && v4.size() < 1000000; ++i) {
    const TFrame frame = tcp[i];
    const TPacketLayers layers = frame.Layers();
    if (!frame.Readable || layers.Network != TNetworkKind::IPv4 || !layers.Transport) continue;
    v4.push_back(frame);
    v6Bytes.push_back(AsIPv6(frame, layers));
  }
  std::vector<TFrame> v6 = v4;
  for (size_t i = 0; i < v6.size(); ++i) {
    v6[i].Bytes = v6Bytes[i].data();
    v6[i].PktHdr.caplen = uint32_t(v6Bytes[i].size());
    v6[i].Deep = v4[i].Deep = true;
  }
  size_t v4Bytes = 0, v6Bytes_ = 0;
  double v4Rows = 1e9, v6Rows = 1e9;
  for (int run = 0; run < runs; ++run) {
    v4Rows = std::min(v4Rows, RowsOf(v4, 1, v4Bytes));
    v6Rows = std::min(v6Rows, RowsOf(v6, 1, v6Bytes_));
  }
  std::printf("TCP rows (%zu): IPv4 %.1f ns a row (%zu bytes), IPv6 %.1f ns a row (%zu bytes): "
              "%.3f x\n",
              v4.size(), v4Rows * 1e9 / double(v4.size()), v4Bytes,
              v6Rows * 1e9 / double(v6.size()), v6Bytes_, v6Rows / v4Rows);
  return 0;
}
