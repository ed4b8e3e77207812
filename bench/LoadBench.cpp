// Reads one capture file several ways in the same run and compares them:
//   bare          a pcap_open_offline / pcap_next_ex loop that only touches each record: the
//                 limit for a program that reads the file through the library,
//   bare, 64 KiB  the same loop with the stream buffer the program gives a capture file,
//   store         TQuarn::LoadFromFile copying every frame into a TQuarnMemory,
//   store+lists   the same, every frame also filed into the eight view lists, as the window
//                 does,
//   tcpdump       `tcpdump -n -r FILE -w /dev/null`, when tcpdump is installed,
//   tshark        `tshark -n -r FILE -T fields` printing the fields the lists are filed by,
//                 when tshark is installed and --tshark is given (run once: it is a hundred
//                 times slower, and its best time would not change the comparison).
// Each of our own and tcpdump is run RUNS times, interleaved, and the best time counts. It
// reports the memory held per frame beyond the captured bytes: the store's blocks and node
// table, the lists' pages, and the growth of the process's resident set over a load into
// store and lists.
//
//   trellan-loadbench FILE [RUNS] [--tshark]
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <memory>
#include <pcap/pcap.h>
#include <string>
#include <unistd.h>

#include "bench/BenchSupport.h"
#include "capture/Quarn.h"
#include "capture/QuarnMemory.h"
#include "presentation/PacketLists.h"

namespace {
using bench::Clock;
using bench::Seconds;

struct TResult {
  double Best = 1e30;
  double Cpu = 1e30;
  long Frames = 0;
  void Take(double wall, double cpu) {
    Best = std::min(Best, wall);
    Cpu = std::min(Cpu, cpu);
  }
};

long ResidentBytes() {
  std::ifstream statm("/proc/self/statm");
  long size = 0, resident = 0;
  statm >> size >> resident;
  return resident * sysconf(_SC_PAGESIZE);
}

// The bare loop; with `buffer` > 0 the file is opened as a stream with a buffer that size.
long Bare(const std::string& file, size_t buffer, uint64_t* bytes) {
  char err[PCAP_ERRBUF_SIZE];
  std::unique_ptr<char[]> space;
  pcap_t* p = nullptr;
  if (buffer == 0) {
    p = pcap_open_offline(file.c_str(), err);
  } else if (FILE* f = std::fopen(file.c_str(), "rb")) {
    space = std::make_unique<char[]>(buffer);
    std::setvbuf(f, space.get(), _IOFBF, buffer);
    p = pcap_fopen_offline(f, err);
    if (!p) std::fclose(f);
  } else {
    std::snprintf(err, sizeof err, "%s: %s", file.c_str(), std::strerror(errno));
  }
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

struct TLoad {
  long Frames = 0;
  uint64_t Captured = 0;      // caplen summed over the frames
  size_t StoreBytes = 0;      // the store's blocks
  size_t ListBytes = 0;       // pages the lists hold
  long ResidentGrowth = 0;    // resident set after the load minus before it
};

// LoadFromFile into a fresh store, and into the lists as well when `file` is true.
TLoad Load(const std::string& name, bool fileIntoLists, TResult& result) {
  TLoad load;
  const long resident0 = ResidentBytes();
  {
    auto memory = std::make_unique<TQuarnMemory>();
    auto lists = std::make_unique<TPacketLists>();
    TQuarn quarn;
    if (fileIntoLists)
      quarn.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
        if (const TQuarnNode* node = memory->Add(h, e)) lists->File(node);
      };
    else
      quarn.OnCapture = [&](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
        memory->Add(h, e);
      };
    const double cpu0 = bench::ProcessCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    if (!quarn.LoadFromFile(name)) {
      std::fprintf(stderr, "%s\n", quarn.LastError().c_str());
      std::exit(1);
    }
    result.Take(Seconds(t0, Clock::now()), bench::ProcessCpuSeconds() - cpu0);
    load.ResidentGrowth = ResidentBytes() - resident0;
    load.Frames = memory->Last ? memory->Last->Index : 0;
    for (const TQuarnNode* n = memory->First; n; n = memory->Next(n))
      load.Captured += n->PktHdr.caplen;
    load.StoreBytes = memory->ReservedBytes();
    for (int32_t view = 0; view < ViewCount; ++view)
      load.ListBytes += (*lists)[view].CommittedBytes();
  }
  result.Frames = load.Frames;
  return load;
}
}  // namespace

int main(int argc, char** argv) {
  bool withTshark = false;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--tshark") == 0) withTshark = true;
    else argv[kept++] = argv[i];
  }
  argc = kept;
  const auto arguments = bench::FileAndRuns(argc, argv);
  if (!arguments) {
    std::fprintf(stderr, "       (add --tshark to time tshark as well)\n");
    return 2;
  }
  const auto& [file, runs] = *arguments;
  const bool tcpdump = bench::HaveCommand("tcpdump");
  const bool tshark = withTshark && bench::HaveCommand("tshark");
  TResult bare, buffered, store, filed, dump, shark;
  uint64_t bytes = 0;
  TLoad storeLoad, filedLoad;
  Bare(file, 0, &bytes);  // warm the page cache

  auto timeBare = [&](size_t buffer, TResult& result) {
    const double cpu0 = bench::ProcessCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    result.Frames = Bare(file, buffer, &bytes);
    result.Take(Seconds(t0, Clock::now()), bench::ProcessCpuSeconds() - cpu0);
  };
  for (int run = 0; run < runs; ++run) {
    timeBare(0, bare);
    timeBare(size_t(64) << 10, buffered);
    // An untimed load first: on a virtual machine the host may take back memory the guest
    // freed a few seconds ago, and the first load after such a pause pays for having it
    // handed over again (several times the load itself). Each timed load then follows
    // another at once, and both find memory in the same state.
    TResult untimed;
    Load(file, true, untimed);
    filedLoad = Load(file, true, filed);
    storeLoad = Load(file, false, store);
    if (tcpdump) {
      const bench::TRunResult r = bench::Run({"tcpdump", "-n", "-r", file, "-w", "/dev/null"});
      dump.Take(r.Wall, r.Cpu);
    }
  }
  if (tshark) {
    const bench::TRunResult r =
        bench::Run({"tshark", "-n", "-r", file, "-T", "fields", "-e", "frame.number", "-e",
                    "eth.type", "-e", "ip.proto", "-e", "tcp.len", "-e", "udp.length"});
    shark.Take(r.Wall, r.Cpu);
  }

  const long frames = bare.Frames;
  std::printf("file %s: %ld frames, %.1f captured bytes a frame; best of %d runs\n",
              file.c_str(), frames, double(filedLoad.Captured) / double(frames ? frames : 1),
              runs);
  std::printf("%-14s %9s %12s %9s %9s %10s\n", "", "wall s", "frames/s", "x bare", "cpu s",
              "ns/frame");
  auto line = [&](const char* name, const TResult& r) {
    std::printf("%-14s %9.3f %12.0f %9.3f %9.3f %10.1f\n", name, r.Best, double(frames) / r.Best,
                r.Best / bare.Best, r.Cpu, r.Best * 1e9 / double(frames ? frames : 1));
  };
  line("bare", bare);
  line("bare, 64 KiB", buffered);
  line("store", store);
  line("store+lists", filed);
  if (tcpdump) line("tcpdump", dump);
  else std::printf("tcpdump        not installed\n");
  if (tshark) line("tshark", shark);
  else if (withTshark) std::printf("tshark         not installed\n");
  std::printf("store+lists: %.3f x bare (target <= 1.25), %.3f x bare with the same buffer",
              filed.Best / bare.Best, filed.Best / buffered.Best);
  if (tcpdump) std::printf(", %.3f x tcpdump (target < 1)", filed.Best / dump.Best);
  std::printf("\n");

  const double n = double(frames ? frames : 1);
  std::printf("memory per frame beyond the captured bytes (target <= 48):\n");
  std::printf("  store (nodes, table)  %7.1f bytes\n",
              double(storeLoad.StoreBytes - storeLoad.Captured) / n);
  std::printf("  lists                 %7.1f bytes\n", double(filedLoad.ListBytes) / n);
  std::printf("  store and lists       %7.1f bytes\n",
              double(filedLoad.StoreBytes + filedLoad.ListBytes - filedLoad.Captured) / n);
  std::printf("  resident set growth   %7.1f bytes (store and lists, measured by the kernel)\n",
              (double(filedLoad.ResidentGrowth) - double(filedLoad.Captured)) / n);
  if (store.Frames != frames || filed.Frames != frames) {
    std::printf("MISMATCH: the store has %ld frames, the file has %ld\n", store.Frames, frames);
    return 1;
  }
  return 0;
}
