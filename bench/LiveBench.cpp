// Live capture throughput: how many frames a second each capturer takes from an adapter without
// losing one. The tool makes its own adapter, so that nothing but its own traffic is on it:
// a network namespace trlbench<pid> and a veth pair, tlb<pid>b inside the namespace for
// sending and tlb<pid>a in the root namespace for capturing, both with IPv6 disabled so that
// they stay quiet. Both are removed on every way out, Ctrl-C included, and a pair or namespace
// left by a killed earlier run is removed at the start.
//
// A generator thread enters the namespace and sends a mix of frames out of its end through a
// raw packet socket, in sendmmsg batches that bypass the queueing discipline: TCP segments
// with payload, bare acknowledgements, UDP datagrams, ICMP echoes and ARP requests, 60 to
// 1514 bytes, all from one marker source address. Each step sends for a fixed time, at a
// fixed rate paced by the clock (25k, 50k, 100k, 200k, 400k, 800k frames/s by default;
// the rates stop at the first one the sender itself falls short of) and then as fast as it
// can ("max"). Four capturers take turns on the capturing end, each through every step
// (the names are those --only takes):
//   window      the program's main window, offscreen, with the settings of a first start
//               (ThreadSafe on) but for the adapter and filter: it files, counts and paints
//               as a user's window does,
//   threadsafe  our capture component with ThreadSafe set (the program's default): every
//               frame is handed to the main thread, which runs a Qt event loop under our
//               application object, as in the program,
//   thread      the same with ThreadSafe cleared: frames are handled on the capture thread,
//   tcpdump     `tcpdump -n -i IFACE -w FILE FILTER`, when it is installed.
// Both of ours open the adapter with the program's default settings (promiscuous, read
// time-out 1 ms, snap length 65535), and the handler does what the main window's capture
// handler does for each frame: it hands the frame to a capture pipeline started live, as the
// window's is when a source opens, which counts it, writes it to the capture's temporary file
// (a flusher thread writes at least every 200 ms) and files it into the store and the eight
// view lists from there; a fresh pipeline and file for every step. So the figures include
// writing the capture to disk, and tcpdump writes its file too, in the same folder (a new
// temporary folder on the file system of /tmp, removed at the end, each file as soon as its
// step is done). Ours does not refresh a view: the figures are what the capture path can do
// before any painting. Every capturer gets a filter on the marker source address, so a stray
// frame could never be counted.
//
// After the generator stops, each capturer has 200 ms beyond its read time-out (1 ms for ours,
// a second for tcpdump) to catch up; then the library's statistics are read (for tcpdump,
// what it prints at SIGINT) and it is closed. A line per step shows the frames sent and the
// rate reached, the frames that arrived at the capturing end (the adapter's own count), the
// frames the capturer saw, what the library counted as received and as dropped by the kernel
// for want of ring space (and by the interface), the frames that were still unread in the
// ring when the statistics were taken, and whether the step was held: every frame sent seen,
// none dropped. For ours, every frame seen must also be in the store once the capture has
// stopped (its file flushed). A summary gives each capturer's highest rate held.
//
// Generator, capture thread and (ThreadSafe) the main thread share the cores of the machine;
// on a small one the figures say as much about that contention as about the capturer.
//
//   trellan-livebench [SECONDS_PER_STEP] [--rates R,R,...] [--only NAME,...]
//
// SECONDS_PER_STEP defaults to 2 (0.2 to 60). Rates are frames a second, with an optional k
// or M suffix. NAME is window, threadsafe, thread or tcpdump. It needs root (namespaces, adapters,
// capture).
#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <dirent.h>
#include <filesystem>
#include <fcntl.h>
#include <functional>
#include <linux/if_packet.h>
#include <memory>
#include <mutex>
#include <net/if.h>
#include <optional>
#include <pcap/pcap.h>
#include <poll.h>
#include <random>
#include <sched.h>
#include <spawn.h>
#include <string>
#include <sys/prctl.h>
#include <sys/socket.h>
#include <sys/wait.h>
#include <thread>
#include <unistd.h>
#include <vector>

#include "bench/BenchSupport.h"
#include "bench/FrameMix.h"
#include "capture/Quarn.h"
#include "pipeline/CapturePipeline.h"
#include "platform/MainThread.h"
#include "presentation/Filing.h"
#include "presentation/PacketLists.h"
#include "presentation/Views.h"
#include "settings/Globals.h"
#include "support/ZebTrace.h"
#include "ui/Application.h"
#include "ui/FormMain.h"

extern char** environ;

namespace {
using bench::Clock;
using bench::Seconds;

// Locally administered, so it belongs to no real adapter; every generated frame carries it.
constexpr uint8_t MarkerMac[6] = {0x02, 0x54, 0x4C, 0x42, 0x00, 0x01};
const char* const MarkerFilter = "ether src 02:54:4c:42:00:01";
// A unicast destination that is not the capturing end's address: the root namespace's stack
// drops the frames as meant for another host as soon as it sees them.
constexpr uint8_t DestinationMac[6] = {0x00, 0x1B, 0x21, 0x3A, 0x4F, 0x10};

// After the generator stops, a capturer has this long to catch up beyond its read time-out.
// The kernel hands a ring block that is not yet full to the reader only once the time-out
// has passed since the block's first frame: ours opens with 1 ms, tcpdump with a second, and
// without that second it would be stopped with the last frames still in the ring, unread but
// not lost.
constexpr int DrainMs = 200;
constexpr int TrellanReadTimeoutMs = 1;  // the program's default
constexpr int TcpdumpReadTimeoutMs = 1000;
constexpr int SettleMs = 50;  // between opening the capturer and the first frame
constexpr double ReachedShare = 0.98;  // a paced step below this share of its rate fell short

// ---- Frames ---------------------------------------------------------------------------------

// The frame mix of trellan-gencap, from the marker address and between documentation
// networks (198.51.100.0/24 to 203.0.113.0/24), which no host here answers for.
using bench::TFrameMaker;
using bench::TKind;
using bench::kTcpData, bench::kTcpAck, bench::kUdp, bench::kIcmp, bench::kArp, bench::KindCount;
TFrameMaker MarkerFrames(unsigned seed) {
  bench::TFrameAddresses from{};
  std::memcpy(from.Destination, DestinationMac, 6);
  std::memcpy(from.Source, MarkerMac, 6);
  from.SourceNet = 0xC6336400u;
  from.DestinationNet = 0xCB007100u;
  return TFrameMaker(seed, from);
}

// Frames made once and sent round and round, so that sending costs no building; with their
// message headers for sendmmsg (which writes each message's sent length into its header, so
// one generator at a time uses a pool).
struct TFramePool {
  std::vector<uint8_t> Bytes;
  std::vector<iovec> Vectors;
  std::vector<mmsghdr> Messages;
  std::array<long, KindCount> Kinds{};
  size_t Smallest = 0, Largest = 0;
  double Mean = 0;

  explicit TFramePool(size_t count) {
    TFrameMaker maker = MarkerFrames(1);
    Bytes.resize(count * sizeof maker.frame);
    std::vector<std::pair<size_t, size_t>> at;
    size_t used = 0, total = 0;
    Smallest = sizeof maker.frame;
    for (size_t i = 0; i < count; ++i) {
      TKind kind;
      const size_t length = maker.Any(kind);
      ++Kinds[kind];
      std::memcpy(Bytes.data() + used, maker.frame, length);
      at.emplace_back(used, length);
      used += length;
      total += length;
      Smallest = std::min(Smallest, length);
      Largest = std::max(Largest, length);
    }
    Mean = double(total) / double(count);
    Vectors.resize(count);
    Messages.resize(count);
    for (size_t i = 0; i < count; ++i) {
      Vectors[i] = {Bytes.data() + at[i].first, at[i].second};
      Messages[i] = {};
      Messages[i].msg_hdr.msg_iov = &Vectors[i];
      Messages[i].msg_hdr.msg_iovlen = 1;
    }
  }
  size_t Count() const { return Messages.size(); }
};

// ---- Commands, the namespace and the veth pair ----------------------------------------------

bool Command(const std::vector<std::string>& argv) { return bench::Run(argv).Ok; }

bool FileExists(const std::string& path) { return access(path.c_str(), F_OK) == 0; }

std::string ReadLine(const std::string& path) {
  std::string text;
  if (FILE* f = std::fopen(path.c_str(), "r")) {
    char buf[256];
    if (std::fgets(buf, sizeof buf, f)) text = buf;
    std::fclose(f);
  }
  while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
  return text;
}

// The adapter's own count of frames received: every frame the veth pair carried across.
long RxPackets(const std::string& adapter) {
  const std::string text = ReadLine("/sys/class/net/" + adapter + "/statistics/rx_packets");
  return text.empty() ? -1 : std::atol(text.c_str());
}

// A name of ours, `prefix` + process id + `suffix`, whose process is gone or is no longer
// this tool: a run that was killed before it could clean up left it behind.
bool LeftBehind(const std::string& name, const std::string& prefix, const std::string& suffix) {
  if (name.size() <= prefix.size() + suffix.size() || !name.starts_with(prefix) ||
      !name.ends_with(suffix))
    return false;
  const std::string digits =
      name.substr(prefix.size(), name.size() - prefix.size() - suffix.size());
  if (!std::all_of(digits.begin(), digits.end(), [](char c) { return c >= '0' && c <= '9'; }))
    return false;
  const long pid = std::atol(digits.c_str());
  if (pid == long(getpid())) return false;
  const std::string comm = ReadLine("/proc/" + digits + "/comm");
  return comm.empty() || comm != ReadLine("/proc/self/comm");
}

std::vector<std::string> Entries(const char* folder) {
  std::vector<std::string> names;
  if (DIR* d = opendir(folder)) {
    while (const dirent* e = readdir(d)) names.emplace_back(e->d_name);
    closedir(d);
  }
  return names;
}

class TBenchLink {
 public:
  TBenchLink()
      : Namespace("trlbench" + std::to_string(getpid())),
        Capture("tlb" + std::to_string(getpid()) + "a"),
        Send("tlb" + std::to_string(getpid()) + "b") {}

  const std::string Namespace, Capture, Send;
  std::string NamespacePath() const { return "/run/netns/" + Namespace; }

  // Removes what killed runs left: their namespaces, and pairs whose end is still in the root
  // namespace (a pair whose namespace is removed goes with it).
  static void RemoveLeftovers() {
    for (const std::string& name : Entries("/sys/class/net"))
      if (LeftBehind(name, "tlb", "a") || LeftBehind(name, "tlb", "b")) {
        std::printf("removing adapter %s left by an earlier run\n", name.c_str());
        Command({"ip", "link", "del", name});
      }
    for (const std::string& name : Entries("/run/netns"))
      if (LeftBehind(name, "trlbench", "")) {
        std::printf("removing namespace %s left by an earlier run\n", name.c_str());
        Command({"ip", "netns", "del", name});
      }
  }

  // The namespace, the pair with its sending end inside, IPv6 off on both ends before they
  // come up (no router solicitations, no duplicate address detection), then both up.
  bool Create(std::string& error) {
    std::lock_guard lock(Lock_);
    Made_ = true;
    if (!Command({"ip", "netns", "add", Namespace})) {
      error = "ip netns add " + Namespace + " failed";
      return false;
    }
    if (!Command({"ip", "link", "add", Capture, "type", "veth", "peer", "name", Send, "netns",
                  Namespace})) {
      error = "ip link add " + Capture + " type veth peer name " + Send + " failed";
      return false;
    }
    if (FileExists("/proc/sys/net/ipv6")) {
      if (!Command({"sysctl", "-qw", "net.ipv6.conf." + Capture + ".disable_ipv6=1"}) ||
          !Command({"ip", "netns", "exec", Namespace, "sysctl", "-qw",
                    "net.ipv6.conf." + Send + ".disable_ipv6=1"})) {
        error = "disabling IPv6 on the pair failed";
        return false;
      }
    }
    if (!Command({"ip", "link", "set", Capture, "up"}) ||
        !Command({"ip", "-n", Namespace, "link", "set", Send, "up"})) {
      error = "bringing the pair up failed";
      return false;
    }
    for (int i = 0; i < 200; ++i) {
      if (ReadLine("/sys/class/net/" + Capture + "/operstate") == "up") return true;
      std::this_thread::sleep_for(std::chrono::milliseconds(10));
    }
    error = Capture + " did not come up";
    return false;
  }

  // Safe to call from any thread and more than once; removing the capturing end removes the
  // pair.
  void Remove() {
    std::lock_guard lock(Lock_);
    if (!Made_) return;
    Made_ = false;
    if (FileExists("/sys/class/net/" + Capture)) Command({"ip", "link", "del", Capture});
    if (FileExists(NamespacePath())) Command({"ip", "netns", "del", Namespace});
  }

  ~TBenchLink() { Remove(); }

 private:
  std::mutex Lock_;
  bool Made_ = false;
};

// The tcpdump child of the step that runs now, for the interrupt to end it.
std::atomic<pid_t> DumpChild{0};

// The temporary folder the capture files are written to; set once before the signal thread
// starts, removed on every way out.
std::string DumpFolder;

void RemoveDumpFolder() {
  std::error_code ignored;
  if (!DumpFolder.empty()) std::filesystem::remove_all(DumpFolder, ignored);
}

constexpr int StopSignals[] = {SIGINT, SIGTERM, SIGHUP, SIGQUIT};

// Ctrl-C, a hang-up or a termination request is taken by a thread of its own, which removes
// the namespace and the pair with ordinary code and ends the process. Every other thread has
// these signals blocked: the mask is set before any thread starts, and threads inherit it.
// A closed output (piped into head) must not end the process behind the clean-up's back
// either: SIGPIPE is ignored, and the run stops when printing fails.
void ServeStopSignals(TBenchLink& link) {
  std::signal(SIGPIPE, SIG_IGN);
  sigset_t set;
  sigemptyset(&set);
  for (int s : StopSignals) sigaddset(&set, s);
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  std::thread([set, &link] {
    int signal = 0;
    while (sigwait(&set, &signal) != 0) {
    }
    if (const pid_t child = DumpChild.load(); child > 0) {
      kill(child, SIGKILL);
      waitpid(child, nullptr, 0);
    }
    std::fprintf(stderr, "\ninterrupted: removing %s and %s\n", link.Capture.c_str(),
                 link.Namespace.c_str());
    link.Remove();
    RemoveDumpFolder();
    std::fflush(stdout);
    _exit(128 + signal);
  }).detach();
}

// ---- The generator --------------------------------------------------------------------------

struct TSent {
  long Frames = 0;
  double Seconds = 0;
  long Refused = 0;  // batches the socket turned away for want of buffers, and tried again
  std::string Error;
  double Rate() const { return Seconds > 0 ? double(Frames) / Seconds : 0; }
};

// Sends from inside the namespace for `seconds`, at `rate` frames a second (0: as fast as it
// can). Runs on a thread of its own, which alone enters the namespace.
TSent Generate(TFramePool& pool, const TBenchLink& link, long rate, double seconds) {
  TSent out;
  const int ns = open(link.NamespacePath().c_str(), O_RDONLY | O_CLOEXEC);
  if (ns < 0 || setns(ns, CLONE_NEWNET) != 0) {
    out.Error = std::string("entering the namespace: ") + std::strerror(errno);
    if (ns >= 0) close(ns);
    return out;
  }
  close(ns);
  const int fd = socket(AF_PACKET, SOCK_RAW | SOCK_CLOEXEC, 0);  // protocol 0: receives nothing
  sockaddr_ll to{};
  to.sll_family = AF_PACKET;
  to.sll_ifindex = int(if_nametoindex(link.Send.c_str()));
  const int one = 1;
  if (fd < 0 || to.sll_ifindex == 0 ||
      bind(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
    out.Error = std::string("packet socket on ") + link.Send + ": " + std::strerror(errno);
    if (fd >= 0) close(fd);
    return out;
  }
  // The veth end has no queue anyway; bypassing the discipline saves its locking per frame.
  setsockopt(fd, SOL_PACKET, PACKET_QDISC_BYPASS, &one, sizeof one);
  // Paced steps sleep between frames that are tens of microseconds apart.
  prctl(PR_SET_TIMERSLACK, 1000UL, 0UL, 0UL, 0UL);

  constexpr long Batch = 64;
  const auto length =
      std::chrono::duration_cast<Clock::duration>(std::chrono::duration<double>(seconds));
  const Clock::time_point start = Clock::now();
  const Clock::time_point end = start + length;
  size_t at = 0;
  long sent = 0;
  for (;;) {
    const Clock::time_point now = Clock::now();
    if (now >= end) break;
    long want = Batch;
    if (rate > 0) {
      // Frames are due at start + k / rate; a sender that fell behind catches up in batches.
      const long due = long(Seconds(start, now) * double(rate)) + 1;
      if (due <= sent) {
        const auto next = start + std::chrono::duration_cast<Clock::duration>(
                                      std::chrono::duration<double>(double(sent) / double(rate)));
        std::this_thread::sleep_until(std::min(next, end));
        continue;
      }
      want = std::min(due - sent, Batch);
    }
    const unsigned n = unsigned(std::min(size_t(want), pool.Count() - at));
    const int result = sendmmsg(fd, &pool.Messages[at], n, 0);
    if (result < 0) {
      if (errno == ENOBUFS || errno == EAGAIN || errno == EINTR) {
        ++out.Refused;
        sched_yield();
        continue;
      }
      out.Error = std::string("sendmmsg: ") + std::strerror(errno);
      break;
    }
    sent += result;
    at = (at + size_t(result)) % pool.Count();
  }
  out.Seconds = Seconds(start, Clock::now());
  out.Frames = sent;
  close(fd);
  return out;
}

// ---- The capturers --------------------------------------------------------------------------

enum TCapturer { cWindow, cThreadSafe, cCaptureThread, cTcpdump, CapturerCount };
const char* const CapturerNames[CapturerCount] = {"window", "threadsafe", "thread", "tcpdump"};
const char* const CapturerTitles[CapturerCount] = {
    "Trellan's main window (offscreen), the settings of a first start: frames handled on the "
    "main thread, counted, filed and painted",
    "Trellan, ThreadSafe: frames handled on the main thread, served by its event loop",
    "Trellan, not ThreadSafe: frames handled on the capture thread",
    "tcpdump -n -i IFACE -w FILE FILTER"};
const char* const CapturerShort[CapturerCount] = {"Trellan window", "Trellan ThreadSafe",
                                                  "Trellan capture thread", "tcpdump"};

struct TStep {
  long Target = 0;  // frames a second; 0 for the step at full speed
  TSent Sent;
  long Arrived = -1;  // frames the capturing end received
  long Saw = 0;       // frames the capturer handled
  long Received = -1, Dropped = -1, IfDropped = -1;  // the library's statistics
  long Unread = -1;   // received, not dropped, and not yet handled when the figures were read
  // The main thread's processor time for each frame it handled, in ns (-1: not measured,
  // for capturers that handle frames elsewhere).
  double MainNsPerFrame = -1;
  std::string Error;

  bool SenderShort() const { return Target > 0 && Sent.Rate() < ReachedShare * double(Target); }
  bool Held() const {
    return Error.empty() && Sent.Error.empty() && Sent.Frames > 0 && Saw == Sent.Frames &&
           Dropped == 0;
  }
};

// The generator on its own thread; `finished` runs on that thread when it is done.
class TGeneratorRun {
 public:
  TGeneratorRun(TFramePool& pool, const TBenchLink& link, long rate, double seconds,
                std::function<void()> finished)
      : Thread_([&pool, &link, rate, seconds, finished, this] {
          Result_ = Generate(pool, link, rate, seconds);
          if (finished) finished();
        }) {}
  TSent Join() {
    Thread_.join();
    return Result_;
  }

 private:
  TSent Result_;
  std::thread Thread_;
};

// What the main window keeps for a live capture and does with each frame (its capture
// handler): a pipeline started on the capture's temporary file when the source opens
// (Quarn1Opened), and every frame handed to it (Quarn1Capture), which counts, writes and files
// it.
struct TWindowFiling {
  std::atomic<bool> Modified{false};
  TCapturePipeline Capture;
  std::atomic<long> Seen{0};

  std::string Start(TCustomQuarn& source, const std::string& path) {
    std::string error;
    if (!Capture.StartLive(path, pcap_datalink(source.Handle()), pcap_snapshot(source.Handle()),
                           error))
      return error;
    return {};
  }
  void Take(const PCAP_PKTHDR* header, const ETH_HDR* frame) {
    Seen.fetch_add(1, std::memory_order_relaxed);
    Modified.store(true, std::memory_order_relaxed);
    Capture.Add(header, reinterpret_cast<const uint8_t*>(frame));
  }
};

// The processor time the calling thread has used, in ns.
double ThreadCpuNs() {
  timespec t{};
  clock_gettime(CLOCK_THREAD_CPUTIME_ID, &t);
  return double(t.tv_sec) * 1e9 + double(t.tv_nsec);
}

// Runs the event loop of the main thread for `ms` milliseconds.
void RunEventLoop(int ms) {
  QEventLoop loop;
  QTimer::singleShot(ms, &loop, &QEventLoop::quit);
  loop.exec();
}

// One step of an open capturer of ours: the sender runs while the main thread's event loop
// serves the frames handed to it, then the capturer has its time to catch up, and the step
// gets the frames sent, the adapter's count, the library's statistics and (for a capturer
// that handles frames on the main thread) the main thread's processor time per frame.
void SendAndServe(TStep& step, pcap_t* handle, TFramePool& pool, const TBenchLink& link,
                  long rate, double seconds, const std::function<long()>& seen,
                  bool onMainThread) {
  RunEventLoop(SettleMs);
  const long arrived0 = RxPackets(link.Capture);
  const double cpu0 = ThreadCpuNs();
  QEventLoop loop;
  TGeneratorRun generator(pool, link, rate, seconds, [&loop] {
    QMetaObject::invokeMethod(&loop, [&loop] { loop.quit(); }, Qt::QueuedConnection);
  });
  loop.exec();  // serves the frames handed to the main thread until the generator is done
  step.Sent = generator.Join();
  RunEventLoop(TrellanReadTimeoutMs + DrainMs);
  step.Arrived = RxPackets(link.Capture) - arrived0;
  const long handled = seen();
  if (onMainThread && handled > 0) step.MainNsPerFrame = (ThreadCpuNs() - cpu0) / double(handled);
  pcap_stat stats{};
  if (pcap_stats(handle, &stats) == 0) {
    step.Received = long(stats.ps_recv);
    step.Dropped = long(stats.ps_drop);
    step.IfDropped = long(stats.ps_ifdrop);
    step.Unread = step.Received - step.Dropped - handled;
  } else {
    step.Error = std::string("pcap_stats: ") + pcap_geterr(handle);
  }
}

TStep TrellanStep(bool threadSafe, TFramePool& pool, const TBenchLink& link, long rate,
                  double seconds) {
  TStep step;
  step.Target = rate;
  // A fresh pipeline and temporary file for every step; the file goes with the pipeline.
  auto filing = std::make_unique<TWindowFiling>();
  const std::string dump = DumpFolder + (threadSafe ? "/threadsafe.pcap" : "/thread.pcap");
  TQuarn quarn;  // made now, so that its list of adapters has the pair
  quarn.SetAdapterName(link.Capture);
  // The program's defaults for a live capture.
  quarn.SetFlags(1);
  quarn.SetReadTimeout(TrellanReadTimeoutMs);
  quarn.SetSnapLen(65535);
  quarn.SetThreadSafe(threadSafe);
  quarn.SetFilter(MarkerFilter);
  TWindowFiling& f = *filing;
  quarn.OnOpened = [&f, &dump](TCustomQuarn& source) { return f.Start(source, dump); };
  quarn.OnCapture = [&f](TCustomQuarn&, const PCAP_PKTHDR* h, const ETH_HDR* e) {
    f.Take(h, e);
  };
  if (!quarn.Open(true)) {
    step.Error = "open: " + quarn.LastError();
    return step;
  }
  SendAndServe(step, quarn.Handle(), pool, link, rate, seconds, [&f] { return f.Seen.load(); },
               threadSafe);
  quarn.Close();  // hands over a delivery that was waiting, if any
  f.Capture.Stop();  // as the window does when the source closes: the rest written and filed
  step.Saw = f.Seen.load();
  if (!quarn.LastError().empty()) step.Error = quarn.LastError();
  if (f.Capture.Failed() && step.Error.empty()) step.Error = "capture: " + f.Capture.Error();
  if (f.Capture.Count() != step.Saw && step.Error.empty())
    step.Error = "filed " + std::to_string(f.Capture.Count()) + " of the frames seen";
  filing.reset();
  std::error_code ignored;
  std::filesystem::remove(dump, ignored);  // in case the pipeline kept it
  return step;
}

// The program's main window, offscreen, with the settings of a first start but for the source:
// the bench's adapter and marker filter, chosen as the adapter dialog would. It files, counts
// and paints as a user's window does; its temporary file lies in the bench's folder.
TStep WindowStep(TFramePool& pool, const TBenchLink& link, long rate, double seconds) {
  TStep step;
  step.Target = rate;
  const std::string folder = DumpFolder + "/window";
  std::filesystem::create_directory(folder);
  setenv("TMPDIR", folder.c_str(), 1);
  {
    TGlobal settings(folder + "/Trellan.ini");
    Global = &settings;
    auto form = std::make_unique<TMainForm>();  // made now, so that it lists the pair
    form->show();
    const auto& names = form->Quarn1.AdapterNames();
    Global->OpenType = 0;
    Global->AdapterIndex = int32_t(std::find(names.begin(), names.end(), link.Capture) -
                                   names.begin());
    Global->Filter = MarkerFilter;
    form->OpenSource();
    if (!form->Quarn1.Active()) {
      step.Error = "open: " + form->Quarn1.LastError();
    } else {
      TMainForm& window = *form;
      SendAndServe(step, window.Quarn1.Handle(), pool, link, rate, seconds,
                   [&window] { return long(window.Capture->Seen(viETH)); }, true);
      form->ActionCloseExecute();  // Stop: the rest written and filed
      step.Saw = form->Capture->Seen(viETH);
      if (form->Capture->Count() != step.Saw)
        step.Error = "filed " + std::to_string(form->Capture->Count()) + " of the frames seen";
      if (form->ListView(viETH)->ItemCount() != step.Saw && step.Error.empty())
        step.Error = "the view shows " + std::to_string(form->ListView(viETH)->ItemCount());
    }
    form.reset();  // takes its unsaved temporary file with it
    Global = nullptr;
  }
  unsetenv("TMPDIR");
  std::error_code ignored;
  std::filesystem::remove_all(folder, ignored);
  return step;
}

// A number that tcpdump prints at exit before `what` ("packets captured"); -1 without one.
long CountBefore(const std::string& text, const std::string& what) {
  const size_t at = text.find(what);
  if (at == std::string::npos) return -1;
  size_t begin = at;
  while (begin > 0 && text[begin - 1] == ' ') --begin;
  size_t digits = begin;
  while (digits > 0 && text[digits - 1] >= '0' && text[digits - 1] <= '9') --digits;
  return digits < begin ? std::atol(text.substr(digits, begin - digits).c_str()) : -1;
}

// Reads what the child writes to the pipe into `text` until `until` is in it, the pipe ends or
// `ms` milliseconds pass.
void ReadChild(int fd, std::string& text, const char* until, int ms) {
  const Clock::time_point end = Clock::now() + std::chrono::milliseconds(ms);
  while (!(until && text.find(until) != std::string::npos)) {
    const long left = long(
        std::chrono::duration_cast<std::chrono::milliseconds>(end - Clock::now()).count());
    if (left <= 0) return;
    pollfd p{fd, POLLIN, 0};
    if (poll(&p, 1, int(left)) <= 0) continue;
    char buf[4096];
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n <= 0) return;
    text.append(buf, size_t(n));
  }
}

TStep TcpdumpStep(TFramePool& pool, const TBenchLink& link, long rate, double seconds) {
  TStep step;
  step.Target = rate;
  int err[2];
  if (pipe2(err, O_CLOEXEC) != 0) {
    step.Error = std::string("pipe: ") + std::strerror(errno);
    return step;
  }
  const std::string dump = DumpFolder + "/tcpdump.pcap";
  std::vector<std::string> argv = {"tcpdump", "-n", "-i", link.Capture, "-w", dump, MarkerFilter};
  std::vector<char*> args;
  for (std::string& a : argv) args.push_back(a.data());
  args.push_back(nullptr);
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn_file_actions_adddup2(&actions, err[1], 2);
  // It must take SIGINT, which every thread here keeps blocked.
  posix_spawnattr_t attributes;
  posix_spawnattr_init(&attributes);
  sigset_t none, stops;
  sigemptyset(&none);
  sigemptyset(&stops);
  for (int s : StopSignals) sigaddset(&stops, s);
  sigaddset(&stops, SIGPIPE);
  posix_spawnattr_setsigmask(&attributes, &none);
  posix_spawnattr_setsigdefault(&attributes, &stops);
  posix_spawnattr_setflags(&attributes, POSIX_SPAWN_SETSIGMASK | POSIX_SPAWN_SETSIGDEF);
  pid_t pid = 0;
  const int spawned = posix_spawnp(&pid, "tcpdump", &actions, &attributes, args.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  posix_spawnattr_destroy(&attributes);
  close(err[1]);
  if (spawned != 0) {
    close(err[0]);
    step.Error = std::string("starting tcpdump: ") + std::strerror(spawned);
    return step;
  }
  DumpChild = pid;
  std::string text;
  ReadChild(err[0], text, "listening on", 5000);
  if (text.find("listening on") == std::string::npos) {
    kill(pid, SIGKILL);
    waitpid(pid, nullptr, 0);
    DumpChild = 0;
    close(err[0]);
    step.Error = "tcpdump did not start: " + text;
    return step;
  }
  std::this_thread::sleep_for(std::chrono::milliseconds(SettleMs));

  const long arrived0 = RxPackets(link.Capture);
  TGeneratorRun generator(pool, link, rate, seconds, nullptr);
  step.Sent = generator.Join();
  std::this_thread::sleep_for(std::chrono::milliseconds(TcpdumpReadTimeoutMs + DrainMs));
  step.Arrived = RxPackets(link.Capture) - arrived0;

  kill(pid, SIGINT);
  ReadChild(err[0], text, nullptr, 5000);
  kill(pid, SIGKILL);  // in case it did not end; it is ours until it has been waited for
  DumpChild = 0;
  waitpid(pid, nullptr, 0);
  close(err[0]);
  step.Saw = CountBefore(text, "packets captured");
  step.Received = CountBefore(text, "packets received by filter");
  step.Dropped = CountBefore(text, "packets dropped by kernel");
  step.IfDropped = std::max(0L, CountBefore(text, "packets dropped by interface"));
  if (step.Saw < 0 || step.Received < 0 || step.Dropped < 0) {
    step.Error = "tcpdump printed no counts";
    step.Saw = 0;
  } else {
    step.Unread = step.Received - step.Dropped - step.Saw;
  }
  std::error_code ignored;
  std::filesystem::remove(dump, ignored);
  return step;
}

// ---- Arguments and output -------------------------------------------------------------------

struct TOptions {
  double Seconds = 2;
  std::vector<long> Rates = {25000, 50000, 100000, 200000, 400000, 800000};
  std::array<bool, CapturerCount> Run{true, true, true, true};
};

void Usage(const char* program) {
  std::fprintf(stderr,
               "usage: %s [SECONDS_PER_STEP] [--rates R,R,...] [--only NAME,...]\n"
               "  SECONDS_PER_STEP  how long each step sends, 0.2 to 60 (default 2)\n"
               "  --rates           the paced steps in frames/s, k and M allowed "
               "(default 25k,50k,100k,200k,400k,800k);\n"
               "                    a step at full speed follows them\n"
               "  --only            capturers to run: window, threadsafe, thread, tcpdump (default all)\n"
               "Needs root: it makes a network namespace and a veth pair, and captures on it.\n",
               program);
}

std::vector<std::string> Split(const std::string& text) {
  std::vector<std::string> parts;
  size_t begin = 0;
  for (;;) {
    const size_t comma = text.find(',', begin);
    parts.push_back(text.substr(begin, comma - begin));
    if (comma == std::string::npos) return parts;
    begin = comma + 1;
  }
}

std::optional<long> Rate(const std::string& text) {
  char* end = nullptr;
  double value = std::strtod(text.c_str(), &end);
  if (end == text.c_str()) return std::nullopt;
  if (*end == 'k' || *end == 'K') {
    value *= 1e3;
    ++end;
  } else if (*end == 'm' || *end == 'M') {
    value *= 1e6;
    ++end;
  }
  if (*end || value < 1 || value > 1e8) return std::nullopt;
  return long(value);
}

std::optional<TOptions> ParseArguments(int argc, char** argv) {
  TOptions options;
  bool haveSeconds = false;
  for (int i = 1; i < argc; ++i) {
    const std::string a = argv[i];
    if ((a == "--rates" || a == "--only") && i + 1 < argc) {
      const std::vector<std::string> items = Split(argv[++i]);
      if (a == "--rates") {
        options.Rates.clear();
        for (const std::string& item : items) {
          const auto rate = Rate(item);
          if (!rate) return std::nullopt;
          options.Rates.push_back(*rate);
        }
        std::sort(options.Rates.begin(), options.Rates.end());
      } else {
        options.Run.fill(false);
        for (const std::string& item : items) {
          const char* const* name = std::find_if(
              std::begin(CapturerNames), std::end(CapturerNames),
              [&](const char* n) { return item == n; });
          if (name == std::end(CapturerNames)) return std::nullopt;
          options.Run[size_t(name - std::begin(CapturerNames))] = true;
        }
      }
    } else if (!haveSeconds && !a.empty() && a[0] != '-') {
      char* end = nullptr;
      options.Seconds = std::strtod(a.c_str(), &end);
      if (*end || !(options.Seconds >= 0.2 && options.Seconds <= 60)) return std::nullopt;
      haveSeconds = true;
    } else {
      return std::nullopt;
    }
  }
  return options;
}

std::string StepName(long target) { return target ? std::to_string(target) + "/s" : "max"; }

void PrintHeading() {
  std::printf("  %-10s %9s %9s %9s %9s %9s %9s %7s %7s %8s  %s\n", "step", "sent", "sent/s",
              "arrived", "saw", "recv", "dropped", "ifdrop", "unread", "main ns", "held");
}

void PrintStep(const TStep& s) {
  char mainNs[16] = "-";
  if (s.MainNsPerFrame >= 0) std::snprintf(mainNs, sizeof mainNs, "%.0f", s.MainNsPerFrame);
  std::printf("  %-10s %9ld %9.0f %9ld %9ld %9ld %9ld %7ld %7ld %8s  %s",
              StepName(s.Target).c_str(), s.Sent.Frames, s.Sent.Rate(), s.Arrived, s.Saw,
              s.Received, s.Dropped, s.IfDropped, s.Unread, mainNs, s.Held() ? "yes" : "no");
  if (s.SenderShort()) std::printf("  (sender short of the rate)");
  if (s.Sent.Refused) std::printf("  (%ld batches refused by the socket)", s.Sent.Refused);
  if (!s.Sent.Error.empty()) std::printf("  send: %s", s.Sent.Error.c_str());
  if (!s.Error.empty()) std::printf("  %s", s.Error.c_str());
  std::printf("\n");
  std::fflush(stdout);
}

// The highest rate at which every frame sent was seen and none dropped, as the sender
// reached it.
std::string HeldUpTo(const std::vector<TStep>& steps) {
  const TStep* best = nullptr;
  for (const TStep& s : steps)
    if (s.Held() && (!best || s.Sent.Rate() > best->Sent.Rate())) best = &s;
  if (!best) return "none";
  char text[96];
  std::snprintf(text, sizeof text, "%.0f frames/s (step %s)", best->Sent.Rate(),
                StepName(best->Target).c_str());
  return text;
}
}  // namespace

int main(int argc, char** argv) {
  const auto parsed = ParseArguments(argc, argv);
  if (!parsed) {
    Usage(argv[0]);
    return 2;
  }
  TOptions options = *parsed;
  if (geteuid() != 0) {
    std::fprintf(stderr,
                 "%s needs root: it makes a network namespace and a veth pair and captures on "
                 "them\n",
                 argv[0]);
    return 1;
  }
  if (!bench::HaveCommand("ip") || !bench::HaveCommand("sysctl")) {
    std::fprintf(stderr, "%s needs the ip and sysctl commands\n", argv[0]);
    return 1;
  }
  if (options.Run[cTcpdump] && !bench::HaveCommand("tcpdump")) {
    std::printf("tcpdump is not installed: it is left out\n");
    options.Run[cTcpdump] = false;
  }
  // A failed capture would send a trace datagram to the trace port, where tests running beside
  // the benchmark may listen; failures are printed here instead.
  delete TraceLog;
  TraceLog = nullptr;

  TBenchLink::RemoveLeftovers();
  TBenchLink link;
  char folder[] = "/tmp/trellan-livebench-XXXXXX";
  if (!mkdtemp(folder)) {
    std::perror("mkdtemp");
    return 1;
  }
  DumpFolder = folder;
  ServeStopSignals(link);  // before any other thread starts
  std::string error;
  if (!link.Create(error)) {
    std::fprintf(stderr, "%s\n", error.c_str());
    RemoveDumpFolder();
    return 1;
  }
  setenv("QT_QPA_PLATFORM", "offscreen", 0);
  int appArgc = 1;
  TApplication app(appArgc, argv);
  TFramePool pool(4096);

  double load[1] = {0};
  getloadavg(load, 1);
  std::printf("%.1f s per step; capturing on %s, sending from %s in namespace %s; %u cores, "
              "load average %.2f\n",
              options.Seconds, link.Capture.c_str(), link.Send.c_str(), link.Namespace.c_str(),
              std::thread::hardware_concurrency(), load[0]);
  std::printf("frames: %zu made, sent round and round, %zu to %zu bytes (mean %.0f): "
              "TCP data %ld, bare ACK %ld, UDP %ld, ICMP %ld, ARP %ld; filter \"%s\"\n",
              pool.Count(), pool.Smallest, pool.Largest, pool.Mean, pool.Kinds[kTcpData],
              pool.Kinds[kTcpAck], pool.Kinds[kUdp], pool.Kinds[kIcmp], pool.Kinds[kArp],
              MarkerFilter);
  std::printf("capture files (ours and tcpdump's) written to %s, each removed after its step\n",
              DumpFolder.c_str());
  std::printf("recv, dropped, ifdrop: the capture library's statistics; unread: received, not "
              "dropped, not yet handled when they were read, %d ms past the capturer's read "
              "time-out after the last frame\n",
              DrainMs);

  std::array<std::vector<TStep>, CapturerCount> results;
  for (int c = 0; c < CapturerCount; ++c) {
    if (!options.Run[size_t(c)]) continue;
    if (c == cTcpdump)
      std::printf("\ntcpdump -n -i %s -w %s/tcpdump.pcap '%s'\n", link.Capture.c_str(),
                  DumpFolder.c_str(), MarkerFilter);
    else
      std::printf("\n%s\n", CapturerTitles[c]);
    PrintHeading();
    std::vector<long> targets = options.Rates;
    targets.push_back(0);
    for (size_t i = 0; i < targets.size(); ++i) {
      const long rate = targets[i];
      const TStep step = c == cTcpdump  ? TcpdumpStep(pool, link, rate, options.Seconds)
                         : c == cWindow ? WindowStep(pool, link, rate, options.Seconds)
                                        : TrellanStep(c == cThreadSafe, pool, link, rate,
                                                      options.Seconds);
      PrintStep(step);
      if (std::ferror(stdout)) break;
      results[size_t(c)].push_back(step);
      // The sender cannot keep up any more: the higher rates would only repeat this step.
      if (rate > 0 && (step.SenderShort() || !step.Sent.Error.empty()))
        while (i + 1 < targets.size() && targets[i + 1] != 0) ++i;
    }
    std::printf("  held without loss up to %s\n", HeldUpTo(results[size_t(c)]).c_str());
    std::fflush(stdout);
    if (std::ferror(stdout)) break;
  }

  std::printf("\nhighest rate held without loss (every frame sent seen, none dropped)\n");
  for (int c = 0; c < CapturerCount; ++c)
    if (options.Run[size_t(c)])
      std::printf("  %-24s %s\n", CapturerShort[c], HeldUpTo(results[size_t(c)]).c_str());
  std::fflush(stdout);
  link.Remove();
  RemoveDumpFolder();
  return 0;
}
