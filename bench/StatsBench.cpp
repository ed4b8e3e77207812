// trellan-statsbench: the Statistics menu's tables and the TCP analysis over a capture file,
// against the bare libpcap loop over the same file and, when asked, tshark printing the same
// table, all in the same run.
//
//   trellan-statsbench FILE [RUNS [DIR [tshark]]]   (DIR "" for the file as it is)
//
// The file is read into a pipeline first (shown apart). Then each table is built RUNS times
// (default 3) from all the frames, as its window builds it, and the best wall and CPU times
// printed with the memory it holds: the summary and protocol hierarchy, the conversations and
// endpoints of each kind, the I/O counts at 1 s. With DIR, all of it on a copy of FILE in DIR
// in each page-cache state (see BenchSupport.h). With "tshark", `tshark -q -z` of each table
// once.
#include <pcap/pcap.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "bench/BenchSupport.h"
#include "pipeline/CapturePipeline.h"
#include "pipeline/TCPAnalysis.h"
#include "pipeline/TrafficStatistics.h"

namespace {
// The bare loop every reader of the file pays: libpcap with a 64 KiB stream buffer.
double BareLoop(const std::string& file) {
  char err[PCAP_ERRBUF_SIZE];
  FILE* f = std::fopen(file.c_str(), "rb");
  if (!f) return -1;
  std::vector<char> buffer(size_t(64) << 10);
  std::setvbuf(f, buffer.data(), _IOFBF, buffer.size());
  pcap_t* p = pcap_fopen_offline(f, err);
  if (!p) {
    std::fclose(f);
    return -1;
  }
  const auto start = bench::Clock::now();
  pcap_pkthdr* h;
  const u_char* d;
  uint64_t sum = 0;
  while (pcap_next_ex(p, &h, &d) == 1) sum += h->caplen + d[0];
  const double seconds = bench::Seconds(start, bench::Clock::now());
  pcap_close(p);
  if (sum == 1) std::puts("");
  return seconds;
}

struct TTable {
  const char* Name;
  const char* Tshark;   // the -z argument of the same table
  int Kind;             // the kind of conversation, or -1 for none, -2 for the TCP analysis
};
constexpr TTable Tables[] = {
    {"summary and protocols", "io,phs", -1}, {"Ethernet conv+endpoints", "conv,eth", 0},
    {"IPv4 conv+endpoints", "conv,ip", 1},   {"IPv6 conv+endpoints", "conv,ipv6", 2},
    {"TCP conv+endpoints", "conv,tcp", 3},   {"UDP conv+endpoints", "conv,udp", 4},
    {"I/O at 1 s", "io,stat,1", -1},          {"TCP analysis", "expert", -2},
};

int Measure(const std::string& file, int runs, bool tshark) {
  TCapturePipeline capture;
  std::string error;
  const auto read = bench::Clock::now();
  if (capture.ReadFile(file, "", error) != TCapturePipeline::TReadResult::Complete) {
    std::fprintf(stderr, "%s\n", error.c_str());
    return 1;
  }
  const int32_t frames = capture.Count();
  std::printf("file read into the pipeline: %d frames, %.3f s\n", frames,
              bench::Seconds(read, bench::Clock::now()));
  double bare = 1e9;
  for (int run = 0; run < runs; ++run) bare = std::min(bare, BareLoop(file));
  std::printf("%-26s %9s %9s %9s %12s %10s %10s\n", "table", "wall s", "cpu s", "x bare",
              "rows", "B/row", "tshark s");
  std::printf("%-26s %9.3f\n", "bare 64K loop (reference)", bare);
  size_t tcpConversations = 0;  // for the analysis's memory per connection
  for (const TTable& table : Tables) {
    double wall = 1e9, cpu = 1e9;
    size_t rows = 0, bytes = 0;
    for (int run = 0; run < runs; ++run) {
      const double cpu0 = bench::ProcessCpuSeconds();
      const auto start = bench::Clock::now();
      if (table.Kind == -2) {
        TTCPAnalysis analysis;
        analysis.TakeIn(capture.Store(), frames);
        rows = analysis.Conversations().size();  // those with trouble
        bytes = analysis.Bytes();
      } else {
        TTrafficStatistics stats;
        stats.SetKinds(table.Kind >= 0 ? uint8_t(1 << table.Kind) : 0);
        stats.TakeIn(capture.Store(), frames);
        rows = table.Kind >= 0 ? stats.ConversationCount(TTrafficKind(table.Kind)) : 0;
        bytes = stats.Bytes();
      }
      wall = std::min(wall, bench::Seconds(start, bench::Clock::now()));
      cpu = std::min(cpu, bench::ProcessCpuSeconds() - cpu0);
    }
    double theirs = -1;
    if (tshark) {
      const std::string z = table.Tshark;
      const bench::TRunResult r = bench::Run({"tshark", "-n", "-r", file, "-q", "-z", z});
      if (r.Ok) theirs = r.Wall;
    }
    std::printf("%-26s %9.3f %9.3f %9.3f %12zu %10.1f", table.Name, wall, cpu, wall / bare, rows,
                rows ? double(bytes) / double(rows) : 0.0);
    if (theirs >= 0) std::printf(" %10.3f (%.0f x ours)", theirs, theirs / wall);
    std::printf("\n");
    if (table.Kind == 3) tcpConversations = rows;
    if (table.Kind == -2)
      std::printf("  TCP analysis memory: %.2f B/frame, %.1f B per TCP conversation\n",
                  double(bytes) / frames, double(bytes) / double(std::max<size_t>(tcpConversations, 1)));
    std::fflush(stdout);
  }
  return 0;
}
}  // namespace

int main(int argc, char** argv) {
  const auto arguments = bench::FileAndRuns(argc, argv);
  if (!arguments) return 2;
  const bool tshark = argc > 4 && std::strcmp(argv[4], "tshark") == 0 && bench::HaveCommand("tshark");
  if (argc > 3 && *argv[3])  // an empty DIR: the file as it is
    return bench::InEachPageCacheState(arguments->File, argv[3], "statsbench.cap",
                                       [&](const std::string& file) {
                                         return Measure(file, arguments->Runs, tshark);
                                       });
  return Measure(arguments->File, arguments->Runs, tshark);
}
