#pragma once
// What the timed benchmark tools share: a clock, and running a reference command with its
// output thrown away (or counted), so that it can be timed in the same run as our own code.
#include <chrono>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace bench {
using Clock = std::chrono::steady_clock;

inline double Seconds(Clock::time_point a, Clock::time_point b) {
  return std::chrono::duration<double>(b - a).count();
}

// The arguments every tool takes: FILE [RUNS], three runs when RUNS is not given. Prints the
// usage and gives nothing when FILE is missing.
struct TArguments {
  std::string File;
  int Runs = 3;
};
std::optional<TArguments> FileAndRuns(int argc, char** argv);

// CPU seconds used so far by this process (every thread) or by the calling thread. Unlike the
// wall clock, they do not grow when other work on the machine takes a core away.
double ProcessCpuSeconds();
double ThreadCpuSeconds();

// The two states in which a user's capture file is met, for benchmarks that measure both on
// a copy of the file in a scratch directory:
//   Written  the copy just written with write() in 64 KiB pieces and synced, as a capture
//            program or a copy leaves a file: its pages cached in small folios;
//   Reread   the copy's pages dropped and the file read once with read(), as after a reboot
//            and a first look: its pages cached as the kernel's read-ahead makes them.
enum class TPageCache { Written, Reread };
inline constexpr TPageCache PageCacheStates[] = {TPageCache::Written, TPageCache::Reread};
const char* PageCacheName(TPageCache state);
// Puts `copy` (a copy of `source`) in `state`; writes it first for Written. False with the
// system's reason in `error`.
bool PrepareCopy(const std::string& source, const std::string& copy, TPageCache state,
                 std::string& error);
// Runs `measure` on a copy of `source` in directory `dir` (named `name` there), once in each
// state, after a line "== page cache: STATE (PATH)"; removes the copy. The results or'ed.
int InEachPageCacheState(const std::string& source, const std::string& dir,
                         const std::string& name,
                         const std::function<int(const std::string& file)>& measure);

// True when `name` is a command found on PATH.
bool HaveCommand(const std::string& name);

struct TRunResult {
  bool Ok = false;     // started and exited with status 0
  double Wall = 0;     // seconds from start to exit
  double Cpu = 0;      // user plus system seconds of the command
  long Lines = -1;     // lines it wrote, when they were counted
};

// Runs argv (argv[0] looked up on PATH) with standard error sent to /dev/null and standard
// output sent to /dev/null, or read here and its lines counted.
TRunResult Run(const std::vector<std::string>& argv, bool countLines = false);
}  // namespace bench
