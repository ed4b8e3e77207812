// Reads one capture file three ways in the same run and compares them:
//   bare      a pcap_next_ex loop that only touches each record (the limit),
//   store     TQuarn::LoadFromFile copying every frame into a TQuarnMemory,
//   tcpdump   `tcpdump -r FILE -w /dev/null`, when tcpdump is installed.
// Each is run several times, interleaved, and the best time counts. It also reports the
// memory the store holds per frame beyond the captured bytes.
//
//   trellan-loadbench FILE [RUNS]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <pcap/pcap.h>
#include <string>

#include "bench/BenchSupport.h"
#include "capture/Quarn.h"
#include "capture/QuarnMemory.h"

namespace {
using bench::Clock;
using bench::Seconds;

struct Result {
  double best = 1e30;
  long frames = 0;
};

long Bare(const std::string& file, uint64_t* bytes) {
  char err[PCAP_ERRBUF_SIZE];
  pcap_t* p = pcap_open_offline(file.c_str(), err);
  if (!p) {
    std::fprintf(stderr, "%s\n", err);
    std::exit(1);
  }
  long n = 0;
  uint64_t sum = 0;
  pcap_pkthdr* h;
  const u_char* d;
  while (pcap_next_ex(p, &h, &d) == 1) {
    ++n;
    sum += h->caplen + d[0];
  }
  pcap_close(p);
  *bytes = sum;
  return n;
}
}  // namespace

int main(int argc, char** argv) {
  const auto arguments = bench::FileAndRuns(argc, argv);
  if (!arguments) return 2;
  const auto& [file, runs] = *arguments;
  const bool tcpdump = bench::HaveCommand("tcpdump");
  Result bare, store, dump;
  uint64_t capturedBytes = 0;
  size_t reserved = 0;
  Bare(file, &capturedBytes);  // warm the page cache

  for (int run = 0; run < runs; ++run) {
    auto t0 = Clock::now();
    bare.frames = Bare(file, &capturedBytes);
    bare.best = std::min(bare.best, Seconds(t0, Clock::now()));

    {
      TQuarnMemory memory;
      TQuarn quarn;
      capturedBytes = 0;
      quarn.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
        memory.Add(h, e);
      };
      t0 = Clock::now();
      quarn.LoadFromFile(file);
      store.best = std::min(store.best, Seconds(t0, Clock::now()));
      store.frames = memory.Last ? memory.Last->Index : 0;
      for (const TQuarnNode* n = memory.First; n; n = n->Next) capturedBytes += n->PktHdr.caplen;
      reserved = memory.ReservedBytes();
    }

    if (tcpdump)
      dump.best =
          std::min(dump.best, bench::Run({"tcpdump", "-n", "-r", file, "-w", "/dev/null"}).Wall);
  }

  auto line = [&](const char* name, const Result& r, long frames) {
    std::printf("%-8s %10.3f s %12.0f frames/s %8.3f x bare\n", name, r.best, frames / r.best,
                r.best / bare.best);
  };
  std::printf("file %s: %ld frames, best of %d runs\n", file.c_str(), bare.frames, runs);
  line("bare", bare, bare.frames);
  line("store", store, store.frames);
  if (tcpdump) line("tcpdump", dump, bare.frames);
  else std::printf("tcpdump  not installed\n");
  std::printf("store holds %.1f bytes per frame beyond the captured bytes (target <= 48)\n",
              double(reserved - capturedBytes) / double(store.frames ? store.frames : 1));
  if (store.frames != bare.frames) {
    std::printf("MISMATCH: store has %ld frames, file has %ld\n", store.frames, bare.frames);
    return 1;
  }
  return 0;
}
