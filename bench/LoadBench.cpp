// Reads one capture file several ways in the same run and compares them:
//   bare          a pcap_open_offline / pcap_next_ex loop that only touches each record: the
//                 limit for a program that reads the file through the library,
//   bare, 64 KiB  the same loop with a 64 KiB stream buffer (what the program gave a capture
//                 file when it still read files through the library),
//   pipeline      TCapturePipeline::ReadFile: the file read in place, every frame kept in the
//                 store (its offset) and filed into the eight view lists as the window files
//                 them; a fresh pipeline for every run,
//   tcpdump       `tcpdump -n -r FILE -w /dev/null`, when tcpdump is installed,
//   tshark        `tshark -n -r FILE -T fields` printing the fields the lists are filed by,
//                 when tshark is installed and --tshark is given (run once: it is a hundred
//                 times slower, and its best time would not change the comparison).
// Each of our own and tcpdump is run RUNS times, interleaved, and the best time counts. Memory
// per frame is shown twice: what the pipeline says it holds (CommittedBytes: store and lists)
// and what the kernel counts as this process's resident anonymous memory (RssAnon) after a
// read minus before it. The file's pages are the kernel's page cache, mapped but not this
// program's own, so they are left out of the second figure (RssFile shows them apart).
//
// With --cgroup-limit MB it measures instead a capture larger than the memory it may use: it
// writes a pcap file of twice MB megabytes (the benchmarks' frame mix) as FILE, pushes it out
// of the page cache, and reads it through a pipeline in a child process that it puts in a
// memory cgroup (v1) limited to MB megabytes. It reports the frames filed against the frames
// written, the child's exit status (a kill by the out-of-memory killer shows as a signal) and
// the time. Needs root.
//
// With a scratch directory DIR the whole set runs twice on a copy of FILE there, each after a
// line "== page cache: STATE (PATH)": "written" and "reread" (bench::TPageCache says what each
// is); the copy is removed at the end. Without DIR, FILE is measured as the page cache holds it.
// The pipeline's minor page faults (the mapping's pages found in the cache) are shown beside
// its time: what a file's state in the cache costs it.
//
//   trellan-loadbench FILE [RUNS [DIR]] [--tshark]
//   trellan-loadbench --cgroup-limit MB FILE
#include <algorithm>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <fstream>
#include <memory>
#include <pcap/pcap.h>
#include <string>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include "bench/BenchSupport.h"
#include "bench/FrameMix.h"
#include "pipeline/CapturePipeline.h"

namespace {
using bench::Clock;
using bench::Seconds;

struct TResult {
  double Best = 1e30;
  double Cpu = 1e30;
  long Frames = 0;
  long Faults = -1;  // minor page faults of the best run, where counted
  void Take(double wall, double cpu, long faults = -1) {
    if (wall < Best) Faults = faults;
    Best = std::min(Best, wall);
    Cpu = std::min(Cpu, cpu);
  }
};

long MinorFaults() {
  rusage usage{};
  getrusage(RUSAGE_SELF, &usage);
  return usage.ru_minflt;
}

// A field of /proc/self/status in bytes ("RssAnon", "RssFile"), or -1.
long StatusBytes(const char* field) {
  std::ifstream status("/proc/self/status");
  std::string line;
  const std::string key = std::string(field) + ":";
  while (std::getline(status, line))
    if (line.compare(0, key.size(), key) == 0) return std::atol(line.c_str() + key.size()) * 1024;
  return -1;
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
  size_t Committed = 0;     // the pipeline's CommittedBytes: store and lists
  size_t StoreBytes = 0;    // the store alone
  long AnonGrowth = 0;      // RssAnon after the read minus before it
  long FileGrowth = 0;      // RssFile the same way: the mapped page cache, for information
};

// A fresh pipeline reads the whole file; the memory is taken while it still holds it.
TLoad Load(const std::string& name, TResult& result) {
  TLoad load;
  const long anon0 = StatusBytes("RssAnon"), file0 = StatusBytes("RssFile");
  {
    auto pipeline = std::make_unique<TCapturePipeline>();
    const double cpu0 = bench::ProcessCpuSeconds();
    const long faults0 = MinorFaults();
    const Clock::time_point t0 = Clock::now();
    std::string error;
    const auto read = pipeline->ReadFile(name, std::string(), error);
    result.Take(Seconds(t0, Clock::now()), bench::ProcessCpuSeconds() - cpu0,
                MinorFaults() - faults0);
    if (read != TCapturePipeline::TReadResult::Complete) {
      std::fprintf(stderr, "%s\n", error.c_str());
      std::exit(1);
    }
    load.AnonGrowth = StatusBytes("RssAnon") - anon0;
    load.FileGrowth = StatusBytes("RssFile") - file0;
    load.Frames = pipeline->Count();
    load.Committed = pipeline->CommittedBytes();
    load.StoreBytes = pipeline->Store().CommittedBytes();
  }
  result.Frames = load.Frames;
  return load;
}

// ---- A capture larger than the memory the process may use ----------------------------------

bool WriteText(const std::string& path, const std::string& text) {
  const int fd = open(path.c_str(), O_WRONLY);
  if (fd < 0) return false;
  const bool ok = write(fd, text.data(), text.size()) == ssize_t(text.size());
  return close(fd) == 0 && ok;
}

std::string ReadText(const std::string& path) {
  std::ifstream in(path);
  std::string text;
  std::getline(in, text);
  return text;
}

// Writes frames of the benchmarks' mix as pcap until the file holds `bytes`; the frames.
long WriteCapture(const std::string& path, uint64_t bytes) {
  bench::TFrameMaker g(1u, {{0x00, 0x1B, 0x21, 0x3A, 0x4F, 0x10},
                            {0x52, 0x54, 0x00, 0x12, 0x34, 0x56},
                            0x0A000000u,
                            0xC0A80000u});
  bench::TKind kind;
  pcap_t* dead = pcap_open_dead(DLT_EN10MB, 65535);
  pcap_dumper_t* out = pcap_dump_open(dead, path.c_str());
  if (!out) {
    std::fprintf(stderr, "%s\n", pcap_geterr(dead));
    std::exit(1);
  }
  pcap_pkthdr h{};
  h.ts.tv_sec = 1700000000;
  uint64_t written = 24;
  long frames = 0;
  while (written < bytes) {
    h.caplen = h.len = uint32_t(g.Any(kind));
    h.ts.tv_usec += 7 + long(g.Next(50));
    if (h.ts.tv_usec >= 1000000) {
      h.ts.tv_usec -= 1000000;
      ++h.ts.tv_sec;
    }
    pcap_dump(reinterpret_cast<u_char*>(out), &h, g.frame);
    written += 16 + h.caplen;
    ++frames;
  }
  pcap_dump_close(out);
  pcap_close(dead);
  return frames;
}

int Measure(const std::string& file, int runs, bool withTshark);

int LargerThanMemory(long limitMB, const std::string& file) {
  const uint64_t limit = uint64_t(limitMB) << 20;
  const std::string group = "/sys/fs/cgroup/memory/trellan-loadbench-" + std::to_string(getpid());
  std::printf("capture of %lu MB read under a memory cgroup limit of %ld MB (%s)\n",
              static_cast<unsigned long>(2 * limit >> 20), limitMB, group.c_str());
  const long expected = WriteCapture(file, 2 * limit);
  // Flushed to disk first: DONTNEED leaves dirty pages where they are.
  const int fd = open(file.c_str(), O_RDONLY);
  struct stat st {};
  if (fd < 0 || fsync(fd) != 0 || posix_fadvise(fd, 0, 0, POSIX_FADV_DONTNEED) != 0 ||
      fstat(fd, &st) != 0) {
    std::perror(file.c_str());
    return 1;
  }
  close(fd);
  if (mkdir(group.c_str(), 0755) != 0) {
    std::perror(group.c_str());
    return 1;
  }
  int status = -1;
  double wall = 0;
  long filed = -1;
  std::string usage, failures, limitRead;
  if (!WriteText(group + "/memory.limit_in_bytes", std::to_string(limit))) {
    std::perror("memory.limit_in_bytes");
  } else {
    limitRead = ReadText(group + "/memory.limit_in_bytes");
    int result[2];
    if (pipe(result) != 0) return 1;
    const Clock::time_point t0 = Clock::now();
    const pid_t child = fork();
    if (child == 0) {
      close(result[0]);
      // In the group before the first page of the file is touched.
      if (!WriteText(group + "/cgroup.procs", std::to_string(getpid()))) _exit(3);
      TCapturePipeline pipeline;
      std::string error;
      const auto read = pipeline.ReadFile(file, std::string(), error);
      const long count = pipeline.Count();
      if (write(result[1], &count, sizeof count) != ssize_t(sizeof count)) _exit(4);
      _exit(read == TCapturePipeline::TReadResult::Complete ? 0 : 1);
    }
    close(result[1]);
    if (read(result[0], &filed, sizeof filed) != ssize_t(sizeof filed)) filed = -1;
    close(result[0]);
    waitpid(child, &status, 0);
    wall = Seconds(t0, Clock::now());
    usage = ReadText(group + "/memory.max_usage_in_bytes");
    failures = ReadText(group + "/memory.failcnt");
  }
  rmdir(group.c_str());
  std::string exit;
  if (WIFEXITED(status)) exit = "exit status " + std::to_string(WEXITSTATUS(status));
  else if (WIFSIGNALED(status)) exit = std::string("killed by ") + strsignal(WTERMSIG(status));
  else exit = "not started";
  std::printf("file %s: %lld bytes, %ld frames written, out of the page cache\n", file.c_str(),
              static_cast<long long>(st.st_size), expected);
  std::printf("limit %s bytes; the group's peak usage %s bytes, limit reached %s times\n",
              limitRead.c_str(), usage.c_str(), failures.c_str());
  std::printf("larger than memory: %ld of %ld frames filed, %s, %.2f s\n", filed, expected,
              exit.c_str(), wall);
  const bool ok = WIFEXITED(status) && WEXITSTATUS(status) == 0 && filed == expected;
  std::printf("larger than memory: %s\n", ok ? "every frame filed" : "FAILED");
  return ok ? 0 : 1;
}
}  // namespace

int main(int argc, char** argv) {
  bool withTshark = false;
  long cgroupLimit = 0;
  int kept = 1;
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--tshark") == 0) withTshark = true;
    else if (std::strcmp(argv[i], "--cgroup-limit") == 0 && i + 1 < argc)
      cgroupLimit = std::atol(argv[++i]);
    else argv[kept++] = argv[i];
  }
  argc = kept;
  const auto arguments = bench::FileAndRuns(argc, argv);
  if (!arguments) {
    std::fprintf(stderr, "       %s FILE RUNS DIR   (both page-cache states, on a copy in DIR)\n",
                 argv[0]);
    std::fprintf(stderr, "       %s --cgroup-limit MB FILE\n", argv[0]);
    std::fprintf(stderr, "       (add --tshark to time tshark as well)\n");
    return 2;
  }
  if (cgroupLimit > 0) return LargerThanMemory(cgroupLimit, arguments->File);
  if (argc <= 3) return Measure(arguments->File, arguments->Runs, withTshark);
  return bench::InEachPageCacheState(arguments->File, argv[3], "loadbench-copy" + std::string(arguments->File.ends_with(".pcapng") ? ".pcapng" : ".cap"),
                                     [&](const std::string& file) { return Measure(file, arguments->Runs, withTshark); });
}

namespace {
int Measure(const std::string& file, int runs, bool withTshark) {
  const bool tcpdump = bench::HaveCommand("tcpdump");
  const bool tshark = withTshark && bench::HaveCommand("tshark");
  TResult bare, buffered, piped, dump, shark;
  uint64_t bytes = 0;
  TLoad load;
  // No warming read: it would change what the page cache holds of a prepared copy.

  auto timeBare = [&](size_t buffer, TResult& result) {
    const double cpu0 = bench::ProcessCpuSeconds();
    const Clock::time_point t0 = Clock::now();
    result.Frames = Bare(file, buffer, &bytes);
    result.Take(Seconds(t0, Clock::now()), bench::ProcessCpuSeconds() - cpu0);
  };
  for (int run = 0; run < runs; ++run) {
    timeBare(0, bare);
    timeBare(size_t(64) << 10, buffered);
    // An untimed read first: on a virtual machine the host may take back memory the guest
    // freed a few seconds ago, and the first read after such a pause pays for having it
    // handed over again. The timed read then follows at once and finds memory in the same
    // state every run.
    TResult untimed;
    Load(file, untimed);
    load = Load(file, piped);
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
  std::printf("file %s: %ld frames, %.1f captured bytes a frame; best of %d runs\n", file.c_str(),
              frames, double(bytes) / double(frames ? frames : 1), runs);
  std::printf("%-14s %9s %12s %9s %9s %10s\n", "", "wall s", "frames/s", "x bare", "cpu s",
              "ns/frame");
  auto line = [&](const char* name, const TResult& r) {
    std::printf("%-14s %9.3f %12.0f %9.3f %9.3f %10.1f\n", name, r.Best, double(frames) / r.Best,
                r.Best / bare.Best, r.Cpu, r.Best * 1e9 / double(frames ? frames : 1));
  };
  line("bare", bare);
  line("bare, 64 KiB", buffered);
  line("pipeline", piped);
  std::printf("pipeline minor page faults %ld (best run)\n", piped.Faults);
  if (tcpdump) line("tcpdump", dump);
  else std::printf("tcpdump        not installed\n");
  if (tshark) line("tshark", shark);
  else if (withTshark) std::printf("tshark         not installed\n");
  std::printf("pipeline: %.3f x bare, %.3f x bare with the 64 KiB buffer (target <= 1.0)",
              piped.Best / bare.Best, piped.Best / buffered.Best);
  if (tcpdump) std::printf(", %.3f x tcpdump (target < 1)", piped.Best / dump.Best);
  std::printf("\n");

  const double n = double(frames ? frames : 1);
  std::printf("memory per frame (target <= 24 bytes; the captured bytes stay in the file):\n");
  std::printf("  store (offsets)       %7.1f bytes\n", double(load.StoreBytes) / n);
  std::printf("  lists                 %7.1f bytes\n",
              double(load.Committed - load.StoreBytes) / n);
  std::printf("  pipeline committed    %7.1f bytes (store and lists, CommittedBytes)\n",
              double(load.Committed) / n);
  std::printf("  RssAnon growth        %7.1f bytes (resident anonymous memory, by the kernel)\n",
              double(load.AnonGrowth) / n);
  std::printf("  RssFile growth        %7.1f bytes (the file's pages mapped from the page cache; "
              "not counted)\n",
              double(load.FileGrowth) / n);
  if (piped.Frames != frames) {
    std::printf("MISMATCH: the pipeline filed %ld frames, the file has %ld\n", piped.Frames,
                frames);
    return 1;
  }
  return 0;
}
}  // namespace
